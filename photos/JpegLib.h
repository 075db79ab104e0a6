#pragma once
// libjpeg's IJG header, which needs FILE and size_t declared before it.

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
