/*
 * Return codes shared by every operation of the pinpad library.
 * Plain C; included by the other public headers.
 */
#ifndef PINPAD_PPCOMP_H
#define PINPAD_PPCOMP_H

#include <stdint.h>

#if defined(PINPAD_BUILD)
#define PP_EXPORT __attribute__((visibility("default")))
#else
#define PP_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 0 ends an operation successfully; 1 asks the caller to poll again; 2 says a
 * message for the user was copied into the caller's message buffer. A pinpad's
 * 3-digit answer status is itself the code. */
enum {
  PPCOMP_OK = 0,
  PPCOMP_PROCESSING = 1,
  PPCOMP_NOTIFY = 2,
  PPCOMP_F1 = 4,
  PPCOMP_F2 = 5,
  PPCOMP_F3 = 6,
  PPCOMP_F4 = 7,
  PPCOMP_BACKSP = 8,
  PPCOMP_BADCALL = 10,
  PPCOMP_BADPARAM = 11,
  PPCOMP_TIMEOUT = 12,
  PPCOMP_CANCEL = 13,
  PPCOMP_ALREADYOPEN = 14,
  PPCOMP_NOTOPEN = 15,
  PPCOMP_EXECERR = 16,
  PPCOMP_BADMODEL = 17,
  PPCOMP_NOFUNC = 18,
  PPCOMP_ERRMANDAT = 19,
  PPCOMP_TABEXP = 20,
  PPCOMP_TABERR = 21,
  PPCOMP_NOAPPLIC = 22,
  PPCOMP_PORTERR = 30,
  PPCOMP_COMMERR = 31,
  PPCOMP_UNKNOWNSTAT = 32,
  PPCOMP_RSPERR = 33,
  PPCOMP_COMMTOUT = 34,
  PPCOMP_INTERR = 40,
  PPCOMP_MCDATAERR = 41,
  PPCOMP_ERRPIN = 42,
  PPCOMP_NOCARD = 43,
  PPCOMP_PINBUSY = 44,
  PPCOMP_SAMERR = 50,
  PPCOMP_NOSAM = 51,
  PPCOMP_SAMINV = 52,
  PPCOMP_DUMBCARD = 60,
  PPCOMP_ERRCARD = 61,
  PPCOMP_CARDINV = 62,
  PPCOMP_CARDBLOCKED = 63,
  PPCOMP_CARDNAUTH = 64,
  PPCOMP_CARDEXPIRED = 65,
  PPCOMP_CARDERRSTRUCT = 66,
  PPCOMP_CARDINVALIDAT = 67,
  PPCOMP_CARDPROBLEMS = 68,
  PPCOMP_CARDINVDATA = 69,
  PPCOMP_CARDAPPNAV = 70,
  PPCOMP_CARDAPPNAUT = 71,
  PPCOMP_NOBALANCE = 72,
  PPCOMP_LIMITEXC = 73,
  PPCOMP_CARDNOTEFFECT = 74,
  PPCOMP_VCINVCURR = 75,
  PPCOMP_ERRFALBACK = 76,
  PPCOMP_QXCRIPTERR = 100
};

#ifdef __cplusplus
}
#endif

#endif /* PINPAD_PPCOMP_H */
