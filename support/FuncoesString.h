#pragma once
// String routines, tokenizer and parameter lists.
#include <cstddef>
#include <cstdint>

// Value of exactly n characters, each contributing its low four bits
// (value = value * 10 + (c & 0x0F)); no check that they are digits.
uint32_t DigitosParaInt(const char* texto, int n);
