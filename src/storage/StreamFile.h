// The stream back end: TrsStreamData, which keeps the settings in one file read and written
// whole through a memory stream, with the file's path, its code page and the embedded
// internal file.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "StoragePersistence.h"

namespace velloran {

// A growable block of bytes with a position: the work stream of the stream back ends and the
// stream their events receive.
class TrsMemoryStream {
 public:
  std::string& Data() { return FData; }
  const std::string& Data() const { return FData; }
  size_t Size() const { return FData.size(); }
  size_t Position() const { return FPosition; }
  void SetPosition(size_t AValue) { FPosition = AValue; }
  void Clear() {
    FData.clear();
    FPosition = 0;
  }
  // Writes at the position, overwriting and extending; the position moves past the bytes.
  void Write(const void* ABuffer, size_t ACount);
  // Copies up to ACount bytes from the position; returns the number copied.
  size_t Read(void* ABuffer, size_t ACount);

 private:
  std::string FData;
  size_t FPosition = 0;
};

enum TrsStreamDataOption : unsigned { doAutoName = 1u << 0, doAutoCreateDir = 1u << 1 };
using TrsStreamDataOptions = unsigned;
enum TrsStreamFileDir { fdCustom, fdApplication, fdWindows, fdUserProfile };
enum TrsCodePage { cpAnsi, cpUTF8, cpUTF16be, cpUTF16le };
enum TrsInternalFileLoad { iflNone, iflAlways, iflNoRealFile };

class TrsStreamData;
// Called with the work stream; clearing ADoStandard replaces the back end's own file access.
using TrsStreamEvent = std::function<void(TrsStreamData* Sender, TrsMemoryStream& AStream, bool& ADoStandard)>;

// A back end that keeps the settings in one file: it resolves the file's path, reads the
// whole file (or an embedded copy, or what OnLoadFromStream supplies) into a memory stream
// and writes a memory stream back. The text format is a subclass's LoadFromStream and
// SaveToStream.
class TrsStreamData : public TrsStorageData {
 public:
  TrsStreamData();
  ~TrsStreamData() override;

  // The settings file's path: the folder FileDir names, FileName's own subfolder, the base
  // name of FileName (or of the executable, with doAutoName) and FileName's extension (or
  // the default one).
  std::string FullFileName() const;
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string_view AValue) { FFileName = AValue; }
  TrsStreamDataOptions Options() const { return FOptions; }
  void SetOptions(TrsStreamDataOptions AValue) { FOptions = AValue; }
  TrsStreamFileDir FileDir() const { return FFileDir; }
  void SetFileDir(TrsStreamFileDir AValue) { FFileDir = AValue; }
  TrsCodePage CodePage() const { return FCodePage; }
  void SetCodePage(TrsCodePage AValue);
  bool Unicode() const { return FUnicode; }
  // true selects cpUTF16le, false cpAnsi; nothing happens when the value is unchanged.
  void SetUnicode(bool AValue);
  TrsInternalFileLoad InternalFileLoad() const { return FInternalFileLoad; }
  void SetInternalFileLoad(TrsInternalFileLoad AValue) { FInternalFileLoad = AValue; }
  const std::string& InternalFileName() const { return FInternalFileName; }
  // Copies the named file into the internal file; a name of no existing file empties it.
  void SetInternalFileName(std::string_view AValue);
  TrsMemoryStream& InternalFile() { return FInternalFile; }
  void SetOnLoadFromStream(TrsStreamEvent AValue) { FOnLoadFromStream = std::move(AValue); }
  void SetOnSaveToStream(TrsStreamEvent AValue) { FOnSaveToStream = std::move(AValue); }
  // The output of the last save (or the bytes of the last load, until it ends).
  const TrsMemoryStream& Stream() const { return FStream; }

  // The internal file in its stored form: 01 01, an int32 length, then chunks of at most
  // 32,768 bytes, each LZRW1-KH coded and preceded by its int32 length. Reading stops at a
  // zero or incomplete chunk length; a chunk that does not decode throws TrsException.
  void WriteInternalFileData(std::ostream& AStream) const;
  void ReadInternalFileData(std::istream& AStream);

 protected:
  void LoadData() override;
  void SaveData() override;
  // The format hooks: the base class only remembers the stream being parsed or written.
  virtual void LoadFromStream(TrsMemoryStream& AStream) { FCurStream = &AStream; }
  virtual void SaveToStream(TrsMemoryStream& AStream) { FCurStream = &AStream; }

  // The writer's output buffer: pieces are collected and written to FCurStream in blocks.
  void ResetBuffer() { FBufferUsed = 0; }
  void WriteToBuffer(const void* AData, size_t ACount);
  void WriteToBuffer(std::string_view AText) { WriteToBuffer(AText.data(), AText.size()); }
  void FlushBuffer();

  std::string FExtension;  // default extension of the file name, with its dot
  TrsMemoryStream* FCurStream = nullptr;

 private:
  void WriteFileReplacing(const std::string& APath) const;

  TrsMemoryStream FInternalFile;
  std::string FFileName;
  TrsStreamDataOptions FOptions = doAutoName;
  TrsStreamEvent FOnLoadFromStream, FOnSaveToStream;
  TrsMemoryStream FStream;
  TrsStreamFileDir FFileDir = fdApplication;
  TrsCodePage FCodePage = cpAnsi;
  std::string FInternalFileName;
  TrsInternalFileLoad FInternalFileLoad = iflNone;
  bool FUnicode = false;
  std::array<char, 4098> FBuffer{};
  size_t FBufferUsed = 0;
};

}  // namespace velloran
