// Texts as the file stores them: Windows-1251 bytes in Jet 3 files (the
// code page of the machines that wrote them), plain UCS-2 little-endian in
// Jet 4 files.
#pragma once

#include "jetformat.h"
#include "pages.h"

#include <string>

namespace jetgen {

// Throws std::runtime_error when a character has no place in the code page.
Bytes encodeText(const std::string &utf8, JetVersion v);

}  // namespace jetgen
