// Small file and folder helpers that the log store and its users share: the CRC-32 of the
// index files and final lines, a file's size by lookup, the folder tokens of the settings,
// and a probe of whether a folder takes new files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velloran {

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, initial 0xFFFFFFFF, final complement); 0 for
// no bytes.
uint32_t CalcCRC32(const void* ABytes, size_t ALength);
// The size a directory lookup reports for APath; 0 when nothing is found.
int64_t FileSizeOf(const std::string& APath);
// The CSIDL number of a folder token ("userappdata", "{app}", ...), case-insensitive; -1 when
// the token names no folder.
int FolderTokenToCSIDL(std::string_view AToken);
// The folder a token names: "app" with a trailing separator, the others without; empty text
// for an unknown token or a folder that cannot be named.
std::string FolderFromToken(std::string_view AToken);
// APath without leading and trailing blanks and control characters, with one trailing
// separator when not empty.
std::string PathWithDelimiter(std::string_view APath);
// Whether a file can be created in AFolder (false when the folder does not exist). Leaves no
// file behind.
bool FolderIsWritable(const std::string& AFolder);

}  // namespace velloran
