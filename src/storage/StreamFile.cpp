// TrsStreamData: the settings file, its path, and the embedded internal file.
#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>

#include "BinaryIO.h"
#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "Storage.h"

namespace velloran {

namespace {

constexpr int kCsidlAppData = 26;
// The folder Windows keeps its own settings in; /etc on this side.
constexpr const char* kSystemFolder = "/etc";
constexpr size_t kInternalChunk = 32768;
constexpr size_t kInternalChunkLimit = 32782;

std::string FolderPart(std::string_view APath) {
  const size_t slash = APath.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(APath.substr(0, slash + 1));
}

std::string FilePart(std::string_view APath) {
  const size_t slash = APath.rfind('/');
  return std::string(slash == std::string_view::npos ? APath : APath.substr(slash + 1));
}

// The extension of the file part, with its dot; empty when the file part has no dot.
std::string ExtensionPart(std::string_view APath) {
  const std::string file = FilePart(APath);
  const size_t dot = file.rfind('.');
  return dot == std::string::npos ? std::string() : file.substr(dot);
}

std::string ChangeExtension(const std::string& APath, const std::string& AExtension) {
  const size_t fileStart = APath.rfind('/') == std::string::npos ? 0 : APath.rfind('/') + 1;
  const size_t dot = APath.rfind('.');
  const std::string stem = (dot != std::string::npos && dot >= fileStart) ? APath.substr(0, dot) : APath;
  return stem + AExtension;
}

void EnsureTrailingDelimiter(std::string& AFolder) {
  if (!AFolder.empty() && AFolder.back() != '/') AFolder += '/';
}

}  // namespace

// --- TrsMemoryStream ---------------------------------------------------------------------------

void TrsMemoryStream::Write(const void* ABuffer, size_t ACount) {
  if (FPosition > FData.size()) FData.resize(FPosition, '\0');
  const size_t overwritten = std::min(ACount, FData.size() - FPosition);
  std::memcpy(FData.data() + FPosition, ABuffer, overwritten);
  FData.append(static_cast<const char*>(ABuffer) + overwritten, ACount - overwritten);
  FPosition += ACount;
}

size_t TrsMemoryStream::Read(void* ABuffer, size_t ACount) {
  if (FPosition >= FData.size()) return 0;
  const size_t count = std::min(ACount, FData.size() - FPosition);
  std::memcpy(ABuffer, FData.data() + FPosition, count);
  FPosition += count;
  return count;
}

// --- TrsStreamData -----------------------------------------------------------------------------

TrsStreamData::TrsStreamData() = default;

TrsStreamData::~TrsStreamData() = default;

void TrsStreamData::SetCodePage(TrsCodePage AValue) {
  FCodePage = AValue;
  FUnicode = AValue == cpUTF16be || AValue == cpUTF16le;
}

void TrsStreamData::SetUnicode(bool AValue) {
  if (AValue == FUnicode) return;
  SetCodePage(AValue ? cpUTF16le : cpAnsi);
}

void TrsStreamData::SetInternalFileName(std::string_view AValue) {
  if (AValue == FInternalFileName) return;
  const std::string name(AValue);
  if (!name.empty() && platform::FileExists(name)) {
    FInternalFile.Clear();
    FInternalFile.Data() = platform::ReadWholeFile(name);
    FInternalFileName = name;
  } else {
    FInternalFile.Clear();
    FInternalFileName.clear();
  }
}

std::string TrsStreamData::FullFileName() const {
  std::string path;
  switch (FFileDir) {
    case fdCustom:
      path = FolderPart(FFileName);
      break;
    case fdApplication:
      path = FolderPart(platform::ExecutablePath());
      break;
    case fdWindows:
      path = kSystemFolder;
      break;
    case fdUserProfile:
      path = platform::SpecialFolderPath(kCsidlAppData);
      break;
  }
  EnsureTrailingDelimiter(path);
  const bool absoluteName = !FFileName.empty() && FFileName.front() == '/';
  if (FFileDir != fdCustom && !FFileName.empty() && !absoluteName) {
    std::string subfolder = FolderPart(FFileName);
    EnsureTrailingDelimiter(subfolder);
    path += subfolder;
  }
  std::string file = (FOptions & doAutoName) != 0 ? FilePart(platform::ExecutablePath()) : FilePart(FFileName);
  file.erase(0, file.find_first_not_of('/'));
  path += file;
  const std::string extension = ExtensionPart(FFileName);
  return ChangeExtension(path, extension.empty() ? FExtension : extension);
}

void TrsStreamData::LoadData() {
  FStream.Clear();
  bool doStandard = true;
  if (FOnLoadFromStream) FOnLoadFromStream(this, FStream, doStandard);
  TrsMemoryStream* source = &FStream;
  if (doStandard) {
    const std::string path = FullFileName();
    const bool exists = platform::FileExists(path);
    if (FInternalFileLoad == iflAlways || (FInternalFileLoad == iflNoRealFile && !exists)) {
      source = &FInternalFile;
    } else if (exists) {
      FStream.Data() = platform::ReadWholeFile(path);
    }
  }
  source->SetPosition(0);
  // The work stream is emptied however the parse ends: it may hold a whole settings file.
  struct TEmptyAfterwards {
    TrsMemoryStream* Stream;
    ~TEmptyAfterwards() {
      if (Stream != nullptr) Stream->Clear();
    }
  } emptyAfterwards{doStandard && source != &FInternalFile ? source : nullptr};
  if (source->Size() > 0) LoadFromStream(*source);
  source->SetPosition(0);
}

void TrsStreamData::SaveData() {
  FStream.Clear();
  SaveToStream(FStream);
  FStream.SetPosition(0);
  bool doStandard = true;
  if (FOnSaveToStream) FOnSaveToStream(this, FStream, doStandard);
  if (!doStandard) return;
  const std::string path = FullFileName();
  if ((FOptions & doAutoCreateDir) != 0) platform::ForceFolders(FolderPart(path));
  WriteFileReplacing(path);
}

void TrsStreamData::WriteFileReplacing(const std::string& APath) const { platform::ReplaceFileContents(APath, FStream.Data()); }

void TrsStreamData::WriteToBuffer(const void* AData, size_t ACount) {
  constexpr size_t kDirectWrite = 4096;
  if (FBufferUsed + ACount > FBuffer.size()) FlushBuffer();
  if (ACount >= kDirectWrite) {
    FCurStream->Write(AData, ACount);
    return;
  }
  std::memcpy(FBuffer.data() + FBufferUsed, AData, ACount);
  FBufferUsed += ACount;
}

void TrsStreamData::FlushBuffer() {
  if (FBufferUsed > 0) FCurStream->Write(FBuffer.data(), FBufferUsed);
  FBufferUsed = 0;
}

// --- the internal file's stored form -------------------------------------------------------------

void TrsStreamData::WriteInternalFileData(std::ostream& AStream) const {
  std::string chunks;
  const std::string_view content = FInternalFile.Data();
  for (size_t at = 0; at < content.size(); at += kInternalChunk) {
    const std::string coded = Lzrw1khCompress(content.substr(at, kInternalChunk));
    const auto length = static_cast<int32_t>(coded.size());
    chunks.append(reinterpret_cast<const char*>(&length), sizeof length);
    chunks += coded;
  }
  AStream.put('\x01');
  AStream.put('\x01');
  WriteRaw(AStream, static_cast<int32_t>(chunks.size()));
  AStream.write(chunks.data(), static_cast<std::streamsize>(chunks.size()));
}

void TrsStreamData::ReadInternalFileData(std::istream& AStream) {
  FInternalFile.Clear();
  char marks[2] = {};
  int32_t total = 0;
  AStream.read(marks, 2);
  if (AStream.gcount() != 2 || marks[0] != '\x01' || marks[1] != '\x01' || !ReadRaw(AStream, total) || total < 0) {
    RaiseStorageError(-1, "The internal file is not in its stored form.");
  }
  std::string chunks;
  // Read in pieces: a damaged length must not demand its memory before the bytes exist.
  std::array<char, 65536> piece{};
  while (chunks.size() < static_cast<size_t>(total)) {
    const size_t wanted = std::min(piece.size(), static_cast<size_t>(total) - chunks.size());
    AStream.read(piece.data(), static_cast<std::streamsize>(wanted));
    chunks.append(piece.data(), static_cast<size_t>(AStream.gcount()));
    if (static_cast<size_t>(AStream.gcount()) != wanted) break;
  }
  std::string content;
  size_t at = 0;
  while (at + sizeof(int32_t) <= chunks.size()) {
    int32_t length = 0;
    std::memcpy(&length, chunks.data() + at, sizeof length);
    at += sizeof length;
    if (length <= 0 || static_cast<size_t>(length) > chunks.size() - at) break;
    if (!Lzrw1khDecompress(std::string_view(chunks).substr(at, static_cast<size_t>(length)), content, kInternalChunkLimit)) {
      RaiseStorageError(-1, "The internal file is damaged: a chunk does not decode.");
    }
    at += static_cast<size_t>(length);
  }
  FInternalFile.Data() = std::move(content);
}

}  // namespace velloran
