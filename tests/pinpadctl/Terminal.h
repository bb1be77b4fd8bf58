#pragma once
// A terminal's settings, for tests that check that a program puts back the
// settings it found on a port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

inline termios Configuracao(const std::string& dispositivo) {
  termios t{};
  const int fd = open(dispositivo.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_GE(fd, 0) << dispositivo;
  if (fd >= 0) {
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
  }
  return t;
}

// Settings no pinpad program would choose: 9600 bit/s, 7 data bits, even
// parity, canonical input with echo.
inline void ConfiguraDiferente(const std::string& dispositivo) {
  const int fd = open(dispositivo.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CREAD | CLOCAL;
  t.c_lflag |= ICANON | ECHO;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  close(fd);
}

inline void EsperaIguais(const termios& a, const termios& b, const std::string& titulo) {
  EXPECT_EQ(a.c_iflag, b.c_iflag) << titulo;
  EXPECT_EQ(a.c_oflag, b.c_oflag) << titulo;
  EXPECT_EQ(a.c_cflag, b.c_cflag) << titulo;
  EXPECT_EQ(a.c_lflag, b.c_lflag) << titulo;
  EXPECT_EQ(cfgetispeed(&a), cfgetispeed(&b)) << titulo;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.c_cc), NCCS),
            std::string(reinterpret_cast<const char*>(b.c_cc), NCCS))
      << titulo;
}
