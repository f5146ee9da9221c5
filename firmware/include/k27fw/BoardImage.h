// The application program that the board API library downloads into a board
// that reports none, written byte for byte from address 0.
#pragma once

#include <cstddef>

constexpr std::size_t kBoardImageSize = 14792;
extern const unsigned char BoardImage[kBoardImageSize];
