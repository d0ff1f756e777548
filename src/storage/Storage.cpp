#include "Storage.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "ScopeGuards.h"

namespace velloran {

// --- names --------------------------------------------------------------------------------

namespace {

bool IsDelimiter(char AChar) { return AChar == '\\' || AChar == '/'; }

UCollator* OpenCollator(const char* ALocale) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(ALocale, &status);
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(collator, UCOL_SECONDARY);
  return collator;
}

// The user locale's collation at secondary strength: letter case does not count, accents do.
// Without a user locale (LANG unset, C or POSIX) ICU's default is en_US_POSIX, whose
// collation orders upper-case before all lower-case letters as distinct letters; names would
// then depend on case, so the root collation serves instead.
UCollator* NameCollator() {
  static UCollator* const collator = [] {
    UCollator* user = OpenCollator(nullptr);
    const UChar upper[] = {u'A'};
    const UChar lower[] = {u'a'};
    if (user != nullptr && ucol_strcoll(user, upper, 1, lower, 1) == UCOL_EQUAL) return user;
    if (user != nullptr) ucol_close(user);
    return OpenCollator("");
  }();
  return collator;
}

}  // namespace

std::string NameSortKey(std::string_view AName) {
  // Names are short: both conversions work in buffers on the stack, and only the key that is
  // kept is allocated.
  std::array<UChar, 128> shortText{};
  std::u16string longText;
  UChar* text = shortText.data();
  int32_t capacity = static_cast<int32_t>(shortText.size());
  if (AName.size() >= shortText.size()) {
    longText.resize(AName.size() + 1);
    text = reinterpret_cast<UChar*>(longText.data());
    capacity = static_cast<int32_t>(longText.size());
  }
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(text, capacity, &length, AName.data(), static_cast<int32_t>(AName.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) length = 0;
  std::array<char, 256> shortKey{};
  int32_t needed = ucol_getSortKey(NameCollator(), text, length, reinterpret_cast<uint8_t*>(shortKey.data()),
                                   static_cast<int32_t>(shortKey.size()));
  std::string key;
  if (needed <= static_cast<int32_t>(shortKey.size())) {
    key.assign(shortKey.data(), needed > 0 ? static_cast<size_t>(needed) - 1 : 0);  // without the closing zero byte
  } else {
    key.resize(static_cast<size_t>(needed));
    needed = ucol_getSortKey(NameCollator(), text, length, reinterpret_cast<uint8_t*>(key.data()), needed);
    key.resize(needed > 0 ? static_cast<size_t>(needed) - 1 : 0);
  }
  return key;
}

bool SameName(std::string_view A, std::string_view B) { return A == B || NameSortKey(A) == NameSortKey(B); }

// --- the key array -----------------------------------------------------------------------

std::vector<TrsKeyItem>& TrsKeyArray::SectionKeys(int32_t AId) {
  const auto id = static_cast<size_t>(AId);
  if (id >= FBySection.size()) {
    // Grow by doubling and rebuild the tree from the run lengths: amortised O(1) per id.
    FBySection.resize(std::max({id + 1, FBySection.size() * 2, size_t{16}}));
    FTree.assign(FBySection.size() + 1, 0);
    for (size_t i = 0; i < FBySection.size(); ++i) {
      const int length = static_cast<int>(FBySection[i].size());
      for (size_t k = i + 1; k < FTree.size() && length != 0; k += k & (~k + 1)) FTree[k] += length;
    }
  }
  return FBySection[id];
}

int TrsKeyArray::CountBefore(int32_t AId) const {
  int sum = 0;
  for (size_t k = std::min(static_cast<size_t>(std::max(AId, 0)), FBySection.size()); k > 0; k -= k & (~k + 1)) sum += FTree[k];
  return sum;
}

void TrsKeyArray::AddToCount(int32_t AId, int ADelta) {
  for (size_t k = static_cast<size_t>(AId) + 1; k < FTree.size(); k += k & (~k + 1)) FTree[k] += ADelta;
  FCount += ADelta;
}

std::pair<int32_t, int> TrsKeyArray::Locate(int AIndex) const {
  size_t position = 0;
  int rest = AIndex;
  size_t step = 1;
  while (step * 2 < FTree.size()) step *= 2;
  for (; step > 0; step /= 2) {
    if (position + step < FTree.size() && FTree[position + step] <= rest) {
      position += step;
      rest -= FTree[position];
    }
  }
  return {static_cast<int32_t>(position), rest};
}

TrsKeyItem& TrsKeyArray::operator[](int AIndex) {
  const auto [id, position] = Locate(AIndex);
  return FBySection[static_cast<size_t>(id)][static_cast<size_t>(position)];
}

const TrsKeyItem& TrsKeyArray::operator[](int AIndex) const {
  const auto [id, position] = Locate(AIndex);
  return FBySection[static_cast<size_t>(id)][static_cast<size_t>(position)];
}

std::pair<int, int> TrsKeyArray::Run(int32_t ASectionId) const {
  const int begin = CountBefore(ASectionId);
  const size_t id = static_cast<size_t>(ASectionId);
  return {begin, begin + (id < FBySection.size() ? static_cast<int>(FBySection[id].size()) : 0)};
}

int TrsKeyArray::LowerBound(int32_t ASectionId, const std::string& ASortKey) const {
  const size_t id = static_cast<size_t>(ASectionId);
  const int begin = CountBefore(ASectionId);
  if (id >= FBySection.size()) return begin;
  const std::vector<TrsKeyItem>& keys = FBySection[id];
  const auto found = std::lower_bound(keys.begin(), keys.end(), ASortKey,
                                      [](const TrsKeyItem& AItem, const std::string& AKey) { return AItem.SortKey < AKey; });
  return begin + static_cast<int>(found - keys.begin());
}

int TrsKeyArray::Insert(TrsKeyItem AItem) {
  const int32_t id = AItem.SectionId;
  const int index = LowerBound(id, AItem.SortKey);
  std::vector<TrsKeyItem>& keys = SectionKeys(id);
  keys.insert(keys.begin() + (index - CountBefore(id)), std::move(AItem));
  AddToCount(id, 1);
  return index;
}

void TrsKeyArray::Erase(int ABegin, int AEnd) {
  if (ABegin >= AEnd) return;
  const auto [id, position] = Locate(ABegin);
  std::vector<TrsKeyItem>& keys = FBySection[static_cast<size_t>(id)];
  keys.erase(keys.begin() + position, keys.begin() + position + (AEnd - ABegin));
  if (keys.empty()) std::vector<TrsKeyItem>().swap(keys);
  AddToCount(id, -(AEnd - ABegin));
}

void TrsKeyArray::Clear() {
  FBySection.clear();
  FTree.clear();
  FCount = 0;
}

// --- wrappers -----------------------------------------------------------------------------

bool TrsKeyWrapper::Assigned() const { return FKeyIndex >= 0 && FKeyIndex < FStorage->KeyItemCount(); }

TrsKeyItem* TrsKeyWrapper::Item() const { return Assigned() ? &FStorage->FKeyList[FKeyIndex] : nullptr; }

const std::string& TrsKeyWrapper::Name() const {
  static const std::string none;
  return Assigned() ? Item()->Name : none;
}

int TrsKeyWrapper::SectionIndex() const { return Assigned() ? FStorage->SectionIndexOfId(Item()->SectionId) : -1; }

std::string TrsKeyWrapper::FullName() const { return Assigned() ? FStorage->KeyFullName(FKeyIndex) : std::string(); }

std::string TrsKeyWrapper::SectionName() const {
  const int section = SectionIndex();
  return section < 0 ? std::string() : FStorage->FSectionList[static_cast<size_t>(section)].Name;
}

std::string TrsKeyWrapper::SectionFullName() const {
  return Assigned() ? FStorage->SectionFullPath(SectionIndex()) : std::string();
}

int TrsKeyWrapper::SectionLevel() const { return Assigned() ? FStorage->SectionLevelOf(SectionIndex()) : 0; }

uint16_t TrsKeyWrapper::KeyType() const { return Assigned() ? Item()->Value.kvType : static_cast<uint16_t>(kvUnknown); }

void TrsKeyWrapper::SetKeyType(uint16_t AValue) {
  if (Assigned()) FStorage->SetKeyType(FullName(), AValue);
}

uint16_t TrsKeyWrapper::KeyOptions() const { return Assigned() ? Item()->Value.Options : uint16_t{0}; }

void TrsKeyWrapper::SetKeyOptions(uint16_t AValue) {
  if (Assigned()) Item()->Value.Options = AValue;
}

const std::string& TrsSectionWrapper::Name() const {
  static const std::string none;
  return Assigned() ? FStorage->SectionItem(FSectionIndex).Name : none;
}

std::string TrsSectionWrapper::FullName() const { return Assigned() ? FStorage->SectionFullPath(FSectionIndex) : std::string(); }

int TrsSectionWrapper::Level() const { return Assigned() ? FStorage->SectionLevelOf(FSectionIndex) : 0; }

int32_t TrsSectionWrapper::Id() const { return Assigned() ? FStorage->SectionItem(FSectionIndex).Id : 0; }

int32_t TrsSectionWrapper::ParentId() const { return Assigned() ? FStorage->SectionItem(FSectionIndex).ParentId : 0; }

// --- construction -------------------------------------------------------------------------

TrsStorage::TrsStorage() = default;

TrsStorage::~TrsStorage() {
  try {
    Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor must not throw; the save failed
  }
  try {
    ClearAll();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a handler failed; nothing is left to keep
  }
  SetStorageData(nullptr);
  while (!FAttachedTo.empty()) FAttachedTo.back()->DetachStorage(this);
  SetEncryptor(nullptr);
  FClientList.Clear();  // the clients keep no link to a storage that goes
}

// --- paths --------------------------------------------------------------------------------

TrsStorage::TKeyPath TrsStorage::SplitKeyPath(std::string_view APath) {
  TKeyPath path;
  size_t last = APath.size();
  while (last > 0 && !IsDelimiter(APath[last - 1])) --last;
  if (last == 0) {
    path.Name = APath;
    return path;
  }
  path.Section = APath.substr(0, last - 1);
  path.Name = APath.substr(last);
  path.AtTop = path.Section.empty();  // "\Version": a key of the top
  return path;
}

std::pair<int, int> TrsStorage::ChildRun(int32_t AParentId) const {
  const auto begin = std::lower_bound(FSectionList.begin(), FSectionList.end(), AParentId,
                                      [](const TrsSectionItem& AItem, int32_t AId) { return AItem.ParentId < AId; });
  const auto end = std::upper_bound(begin, FSectionList.end(), AParentId,
                                    [](int32_t AId, const TrsSectionItem& AItem) { return AId < AItem.ParentId; });
  return {static_cast<int>(begin - FSectionList.begin()), static_cast<int>(end - FSectionList.begin())};
}

std::pair<int, int> TrsStorage::KeyRun(int32_t ASectionId) const { return FKeyList.Run(ASectionId); }

std::optional<int> TrsStorage::FindChild(int32_t AParentId, std::string_view AName, const std::string& ASortKey, bool ACreate) {
  const auto [runBegin, runEnd] = ChildRun(AParentId);
  const auto begin = FSectionList.begin() + runBegin;
  const auto end = FSectionList.begin() + runEnd;
  const auto found = std::lower_bound(begin, end, ASortKey,
                                      [](const TrsSectionItem& AItem, const std::string& AKey) { return AItem.SortKey < AKey; });
  if (found != end && found->SortKey == ASortKey) return static_cast<int>(found - FSectionList.begin());
  if (!ACreate || AName.empty()) return std::nullopt;
  return InsertSection(static_cast<int>(found - FSectionList.begin()),
                       TrsSectionItem{std::string(AName), ASortKey, FSectionMaxId + 1, AParentId});
}

std::optional<int> TrsStorage::FindSection(std::string_view APath, bool ACreate) {
  // The one-shot start rule is used up by every resolution, also one that fails at once, so
  // that it can never steer a later, unrelated path.
  const TStart rule = FPreferStartSection;
  FPreferStartSection = TStart::Default;
  if (APath.empty()) return std::nullopt;
  // Creating moves the arrays: a path that points into them (a wrapper's name) must be
  // copied first.
  std::string copy;
  if (ACreate) {
    copy.assign(APath);
    APath = copy;
  }
  // A path with two delimiters in a row does not resolve: reject it before anything is
  // created, so that a bad path never leaves its first sections behind.
  size_t scan = 0;
  while (scan < APath.size() && IsDelimiter(APath[scan])) ++scan;
  for (; scan + 1 < APath.size(); ++scan) {
    if (IsDelimiter(APath[scan]) && IsDelimiter(APath[scan + 1])) return std::nullopt;
  }
  int section = FSectionIdx;
  if (rule == TStart::Top || (rule == TStart::Default && IsDelimiter(APath.front()))) section = -1;
  size_t pos = 0;
  while (pos < APath.size() && IsDelimiter(APath[pos])) ++pos;
  while (pos < APath.size()) {
    size_t end = pos;
    while (end < APath.size() && !IsDelimiter(APath[end])) ++end;
    const std::string_view component = APath.substr(pos, end - pos);
    if (component.empty()) return std::nullopt;  // two delimiters in a row
    const std::optional<int> child = FindChild(SectionIdAt(section), component, NameSortKey(component), ACreate);
    if (!child) return std::nullopt;
    section = *child;
    if (end + 1 >= APath.size()) break;  // the path's end, or one trailing delimiter
    pos = end + 1;
  }
  return section;
}

int TrsStorage::FindKey(std::string_view APath, bool ACreate) {
  std::string copy;  // see FindSection: creating moves the arrays the path may point into
  if (ACreate) {
    copy.assign(APath);
    APath = copy;
  }
  const TKeyPath path = SplitKeyPath(APath);
  int section = path.AtTop ? -1 : FSectionIdx;
  if (!path.Section.empty()) {
    const bool absolute = IsDelimiter(path.Section.front());
    const bool cached = FCacheSectionIdx >= -1 && FCacheSectionIdx < SectionItemCount() &&
                        SectionIdAt(FCacheSectionIdx) == FCacheSectionId &&
                        (absolute || FCacheSectionBase == CurrentSectionId()) && FCacheSectionName == path.Section;
    if (cached) {
      section = FCacheSectionIdx;
    } else {
      const std::optional<int> found = FindSection(path.Section, ACreate);
      if (!found) return -1;
      section = *found;
      FCacheSectionName.assign(path.Section);
      FCacheSectionIdx = section;
      FCacheSectionId = SectionIdAt(section);
      FCacheSectionBase = absolute ? -1 : CurrentSectionId();
    }
  }
  const int32_t sectionId = SectionIdAt(section);

  // The key cache: the same spelling in the same section is the same key.
  if (FCacheKeySectionId == sectionId && FCacheKeyIdx >= 0 && FCacheKeyIdx < KeyItemCount()) {
    const TrsKeyItem& cachedKey = FKeyList[FCacheKeyIdx];
    if (cachedKey.SectionId == sectionId && cachedKey.Name == path.Name) {
      FKeyWrapper.FKeyIndex = FCacheKeyIdx;
      return FCacheKeyIdx;
    }
  }

  const std::string sortKey = NameSortKey(path.Name);
  int index = IndexOfKey(sectionId, sortKey);
  if (index < 0) {
    if (!ACreate) return -1;
    index = InsertKey(TrsKeyItem{std::string(path.Name), sortKey, sectionId, TrsKeyValue{}});
    const uint64_t generation = FKeyGeneration;
    DoKeyAdd(index);
    // An OnKeyAdd handler may add or remove keys itself: then find the new key again.
    if (FKeyGeneration != generation) {
      index = IndexOfKey(sectionId, sortKey);
      if (index < 0) return -1;  // the handler removed it
    }
  }
  FCacheKeyIdx = index;
  FCacheKeySectionId = sectionId;
  FKeyWrapper.FKeyIndex = index;
  return index;
}

TrsKeyItem* TrsStorage::FindKeyItem(std::string_view AKey, bool ACreate) {
  const int index = FindKey(AKey, ACreate);
  return index < 0 ? nullptr : &FKeyList[index];
}

// --- the arrays ---------------------------------------------------------------------------

namespace {

// Growth step of both arrays: a quarter of the capacity above 64, 16 from 17 to 64, else 8.
size_t GrowthStep(size_t ACapacity) { return ACapacity > 64 ? ACapacity / 4 : ACapacity > 16 ? 16 : 8; }

template <typename T>
void MakeRoom(std::vector<T>& AList) {
  if (AList.size() == AList.capacity()) AList.reserve(AList.capacity() + GrowthStep(AList.capacity()));
}

}  // namespace

template <typename T>
void TrsStorage::ShrinkAfterRemoval(std::vector<T>& AList) {
  // Give back half of the unused entries; all of them when the array is empty.
  const size_t unused = AList.capacity() - AList.size();
  if (AList.empty()) {
    std::vector<T>().swap(AList);
  } else if (unused > 1) {
    std::vector<T> shrunk;
    shrunk.reserve(AList.capacity() - unused / 2);
    std::move(AList.begin(), AList.end(), std::back_inserter(shrunk));
    AList.swap(shrunk);
  }
}

int TrsStorage::InsertSection(int AIndex, TrsSectionItem AItem) {
  MakeRoom(FSectionList);
  FSectionMaxId = AItem.Id;
  FSectionList.insert(FSectionList.begin() + AIndex, std::move(AItem));
  for (int* index : {&FSectionIdx, &FSectionIndex, &FSectionWrapper.FSectionIndex}) {
    if (*index >= AIndex) ++*index;
  }
  if (FCacheSectionIdx >= AIndex) ++FCacheSectionIdx;
  RecomputeRanges();
  return AIndex;
}

int TrsStorage::InsertKey(TrsKeyItem AItem) {
  ++FKeyGeneration;
  const int AIndex = FKeyList.Insert(std::move(AItem));
  for (int* index : {&FKeyIndex, &FKeyWrapper.FKeyIndex}) {
    if (*index >= AIndex) ++*index;
  }
  RecomputeRanges();
  return AIndex;
}

void TrsStorage::RemoveKeys(int ABegin, int AEnd) {
  if (ABegin >= AEnd) return;
  const uint64_t generation = FKeyGeneration;
  // What the keys are, taken before any handler runs: a handler that adds or removes keys
  // makes the indexes stale, and the keys are then found again by what they are.
  std::vector<std::pair<int32_t, std::string>> doomed;
  for (int i = ABegin; i < AEnd; ++i) doomed.emplace_back(FKeyList[i].SectionId, FKeyList[i].SortKey);
  for (const auto& [sectionId, sortKey] : doomed) {
    const int index = IndexOfKey(sectionId, sortKey);
    if (index >= 0) DoKeyDeletion(index);
  }
  if (FKeyGeneration == generation) {
    EraseKeys(ABegin, AEnd);
    return;
  }
  for (const auto& [sectionId, sortKey] : doomed) {
    const int index = IndexOfKey(sectionId, sortKey);
    if (index >= 0) EraseKeys(index, index + 1);
  }
}

int TrsStorage::IndexOfKey(int32_t ASectionId, const std::string& ASortKey) const {
  const int index = FKeyList.LowerBound(ASectionId, ASortKey);
  return index < FKeyList.Run(ASectionId).second && FKeyList[index].SortKey == ASortKey ? index : -1;
}

void TrsStorage::EraseKeys(int ABegin, int AEnd) {
  ++FKeyGeneration;
  FKeyList.Erase(ABegin, AEnd);
  const int removed = AEnd - ABegin;
  for (int* index : {&FKeyIndex, &FKeyWrapper.FKeyIndex}) {
    if (*index >= AEnd) {
      *index -= removed;
    } else if (*index >= ABegin) {
      *index = -1;
    }
  }
  FCacheKeyIdx = -1;
  RecomputeRanges();
}

void TrsStorage::RemoveSectionEntry(int AIndex) {
  FSectionList.erase(FSectionList.begin() + AIndex);
  if (FSectionIdx == AIndex) {
    FSectionIdx = -1;  // the current section went: the top is current
    FRootSection.clear();
  } else if (FSectionIdx > AIndex) {
    --FSectionIdx;
  }
  for (int* index : {&FSectionIndex, &FSectionWrapper.FSectionIndex}) {
    if (*index == AIndex) {
      *index = -1;
    } else if (*index > AIndex) {
      --*index;
    }
  }
  DropCaches();  // ids of removed sections may come back: no cached path may outlive them
  RecomputeRanges();
  ShrinkAfterRemoval(FSectionList);
}

void TrsStorage::RemoveSectionContent(int AIndex, bool ARemoveSelf) {
  const int32_t id = SectionIdAt(AIndex);
  // Children sort after their parent (a parent's id is smaller), so removing them never
  // moves AIndex.
  for (;;) {
    const auto [begin, end] = ChildRun(id);
    if (begin == end) break;
    RemoveSectionContent(end - 1, true);
  }
  const auto [keysBegin, keysEnd] = KeyRun(id);
  RemoveKeys(keysBegin, keysEnd);
  if (ARemoveSelf && AIndex >= 0) RemoveSectionEntry(AIndex);
}

void TrsStorage::RecomputeRanges() {
  const int32_t id = CurrentSectionId();
  const auto [keysBegin, keysEnd] = KeyRun(id);
  FKeyBeginIdx = keysBegin < keysEnd ? keysBegin : -1;
  FKeyEndIdx = keysBegin < keysEnd ? keysEnd : -1;
  const auto [childBegin, childEnd] = ChildRun(id);
  FSectionChildBeginIdx = childBegin < childEnd ? childBegin : -1;
  FSectionChildEndIdx = childBegin < childEnd ? childEnd : -1;
}

void TrsStorage::RecomputeSectionMaxId() {
  FSectionMaxId = 0;
  for (const TrsSectionItem& section : FSectionList) FSectionMaxId = std::max(FSectionMaxId, section.Id);
}

void TrsStorage::DropCaches() {
  FCacheSectionName.clear();
  FCacheSectionIdx = -2;  // matches no index
  FCacheKeyIdx = -1;
  FCacheKeySectionId = -1;
}

int TrsStorage::SectionIndexOfId(int32_t AId) const {
  if (AId <= 0) return -1;
  for (size_t i = 0; i < FSectionList.size(); ++i) {
    if (FSectionList[i].Id == AId) return static_cast<int>(i);
  }
  return -1;
}

std::string TrsStorage::SectionFullPath(int AIndex) const {
  if (AIndex < 0) return {};
  std::string path = FSectionList[static_cast<size_t>(AIndex)].Name;
  int32_t parent = FSectionList[static_cast<size_t>(AIndex)].ParentId;
  // A parent sorts before its children: search the entries before the child.
  for (int i = AIndex - 1; parent > 0 && i >= 0; --i) {
    if (FSectionList[static_cast<size_t>(i)].Id != parent) continue;
    path = FSectionList[static_cast<size_t>(i)].Name + "\\" + path;
    parent = FSectionList[static_cast<size_t>(i)].ParentId;
  }
  return path;
}

std::string TrsStorage::KeyFullName(int AIndex) const {
  const TrsKeyItem& key = FKeyList[AIndex];
  std::string name = "\\";
  name += SectionFullPath(SectionIndexOfId(key.SectionId));
  name += '\\';
  name += key.Name;
  return name;
}

int TrsStorage::SectionLevelOf(int AIndex) const {
  int level = 0;
  for (int32_t id = SectionIdAt(AIndex); id > 0; ++level) id = FSectionList[static_cast<size_t>(SectionIndexOfId(id))].ParentId;
  return level;
}

// --- structural operations ----------------------------------------------------------------

bool TrsStorage::SectionAdd(std::string_view ASection) {
  const std::optional<int> section = FindSection(ASection, true);
  if (!section) return false;
  FClientList.DoNotification(scnSectionAdd, SectionFullPath(*section));
  return true;
}

bool TrsStorage::SectionExist(std::string_view ASection) { return FindSection(ASection, false).has_value(); }

void TrsStorage::SectionDelete(std::string_view ASection) {
  const std::optional<int> section = FindSection(ASection, false);
  if (!section || *section < 0) return;  // the top cannot be deleted
  const std::string fullPath = SectionFullPath(*section);
  RemoveSectionContent(*section, true);
  FClientList.DoNotification(scnSectionDelete, fullPath);
}

std::optional<TrsStorage::TCurrentSection> TrsStorage::EnterClearedSection(std::string_view ASection) {
  const std::string section(ASection);
  FPreferStartSection = TStart::Top;                                         // resolved as SetRootSection will resolve it
  if (!section.empty() && !FindSection(section, true)) return std::nullopt;  // no such path: nothing changes
  const TCurrentSection saved = SaveCurrentSection();
  SetRootSection(section);
  Clear();
  return saved;
}

void TrsStorage::SectionClear(std::string_view ASection) {
  if (const std::optional<TCurrentSection> saved = EnterClearedSection(ASection)) RestoreCurrentSection(*saved);
}

void TrsStorage::SectionRename(std::string_view AOldNameView, std::string_view ANewNameView) {
  const std::string AOldName(AOldNameView);  // the arguments may point into the arrays
  const std::string ANewName(ANewNameView);
  if (!FindSection(AOldName, false)) return;
  const TrsMutedClients muted(FClientList);
  const std::optional<int> target = FindSection(ANewName, true);
  const std::optional<int> source = FindSection(AOldName, false);
  if (target && source && *target != *source) {
    // The source goes by its id at the end: emptying the target may move the current section,
    // and the old name read again could then name another section.
    const int32_t sourceId = SectionIdAt(*source);
    // Take a copy of the source first: the target may lie inside it.
    struct TEntry {
      std::string Section;  // relative to the source, "" for its own keys
      std::string Key;      // empty Section and Key: a section without keys
      TrsKeyValue Value;
      bool IsKey;
    };
    std::vector<TEntry> copy;
    // Whether a section lies inside the source is decided by its chain of parent ids, not by
    // comparing path texts (whole-path collation ignores what per-name comparison does not).
    const auto pathInSource = [&](int32_t AId) -> std::optional<std::string> {
      std::string path;
      for (int32_t id = AId; id != sourceId; id = FSectionList[static_cast<size_t>(SectionIndexOfId(id))].ParentId) {
        if (id == 0) return std::nullopt;
        const std::string& name = FSectionList[static_cast<size_t>(SectionIndexOfId(id))].Name;
        path = path.empty() ? name : name + "\\" + path;
      }
      return path;
    };
    for (int i = 0; i < SectionItemCount(); ++i) {
      if (FSectionList[static_cast<size_t>(i)].Id == sourceId) continue;
      if (const std::optional<std::string> path = pathInSource(FSectionList[static_cast<size_t>(i)].Id))
        copy.push_back({*path, {}, {}, false});
    }
    for (int k = 0; k < KeyItemCount(); ++k) {
      const TrsKeyItem& key = FKeyList[k];
      if (const std::optional<std::string> path = pathInSource(key.SectionId)) copy.push_back({*path, key.Name, key.Value, true});
    }
    RemoveSectionContent(*target, false);
    const std::string targetPath = "\\" + SectionFullPath(*FindSection(ANewName, true));
    for (const TEntry& entry : copy) {
      const std::string section = entry.Section.empty() ? targetPath : targetPath + "\\" + entry.Section;
      if (!entry.IsKey) {
        FindSection(section, true);
        continue;
      }
      TrsKeyItem* key = FindKeyItem(section + "\\" + entry.Key, true);
      if (key != nullptr) key->Value = entry.Value;
    }
    if (const int old = SectionIndexOfId(sourceId); old >= 0) RemoveSectionContent(old, true);
  }
}

std::string TrsStorage::SectionName() const {
  return FSectionIdx < 0 ? std::string() : FSectionList[static_cast<size_t>(FSectionIdx)].Name;
}

int TrsStorage::SectionCount() const { return FSectionChildBeginIdx < 0 ? 0 : FSectionChildEndIdx - FSectionChildBeginIdx; }

void TrsStorage::SectionList(std::vector<std::string>& AStrings) const {
  AStrings.clear();
  for (int i = FSectionChildBeginIdx; i >= 0 && i < FSectionChildEndIdx; ++i)
    AStrings.push_back(FSectionList[static_cast<size_t>(i)].Name);
}

void TrsStorage::SetRootSection(std::string_view AValue) {
  const std::string value(AValue);  // AValue may point into the arrays, which creating moves
  if (value.empty()) {
    FSectionIdx = -1;
  } else {
    FPreferStartSection = TStart::Top;
    const std::optional<int> section = FindSection(value, true);
    if (!section) return;  // a path that does not resolve changes nothing
    FSectionIdx = *section;
  }
  FRootSection = value;
  RecomputeRanges();
  FClientList.DoNotification(scnRootSectionChanged, FRootSection);
}

void TrsStorage::RestoreCurrentSection(const TCurrentSection& ASaved) {
  const int index = SectionIndexOfId(ASaved.Id);
  if (ASaved.Id != 0 && index < 0) {
    SetRootSection("");  // the section went meanwhile: the top is current
    return;
  }
  FSectionIdx = index;
  FRootSection = ASaved.Text;
  RecomputeRanges();
  FClientList.DoNotification(scnRootSectionChanged, FRootSection);
}

bool TrsStorage::ChangeDownRootSection(std::string_view ASection) {
  FPreferStartSection = TStart::Current;
  const std::optional<int> section = FindSection(ASection, false);
  if (!section) return false;
  FSectionIdx = *section;
  FRootSection = FRootSection.empty() ? std::string(ASection) : FRootSection + "\\" + std::string(ASection);
  RecomputeRanges();
  return true;
}

bool TrsStorage::ChangeUpRootSection() {
  if (FSectionIdx < 0) return false;
  FSectionIdx = SectionIndexOfId(FSectionList[static_cast<size_t>(FSectionIdx)].ParentId);
  size_t last = FRootSection.size();
  while (last > 0 && !IsDelimiter(FRootSection[last - 1])) --last;
  FRootSection = (FSectionIdx < 0 || last == 0) ? std::string() : FRootSection.substr(0, last - 1);
  RecomputeRanges();
  return true;
}

bool TrsStorage::KeyExist(std::string_view AKey) { return FindKey(AKey, false) >= 0; }

void TrsStorage::KeyDelete(std::string_view AKey) {
  const int index = FindKey(AKey, false);
  if (index >= 0) RemoveKeys(index, index + 1);
}

void TrsStorage::KeyRename(std::string_view AOldNameView, std::string_view ANewNameView) {
  const std::string AOldName(AOldNameView);  // the arguments may point into the arrays
  const std::string ANewName(ANewNameView);
  const int oldIndex = FindKey(AOldName, false);
  if (oldIndex < 0) return;
  TrsKeyValue value = FKeyList[oldIndex].Value;
  const int32_t oldSection = FKeyList[oldIndex].SectionId;
  const std::string oldSortKey = FKeyList[oldIndex].SortKey;
  const int newIndex = FindKey(ANewName, true);
  if (newIndex < 0) return;
  TrsKeyItem& target = FKeyList[newIndex];
  if (target.SectionId == oldSection && target.SortKey == oldSortKey) {
    // The same key under another spelling: it takes the new spelling, nothing is lost.
    target.Name.assign(SplitKeyPath(ANewName).Name);
    return;
  }
  target.Value = std::move(value);
  const int again = FindKey(AOldName, false);  // the insertion may have moved it
  if (again >= 0) RemoveKeys(again, again + 1);
}

void TrsStorage::ReserveSections(int ASections) {
  if (ASections <= 0) return;
  const size_t wanted = static_cast<size_t>(ASections);
  if (FSectionList.capacity() - FSectionList.size() >= wanted) return;
  FSectionList.reserve(FSectionList.capacity() + std::max(wanted, GrowthStep(FSectionList.capacity())));
}

int TrsStorage::KeyCount() const { return FKeyBeginIdx < 0 ? 0 : FKeyEndIdx - FKeyBeginIdx; }

void TrsStorage::KeyList(std::vector<std::string>& AStrings) const {
  AStrings.clear();
  for (int i = FKeyBeginIdx; i >= 0 && i < FKeyEndIdx; ++i) AStrings.push_back(FKeyList[i].Name);
}

int TrsStorage::GetKeyType(std::string_view AKey) {
  const TrsKeyItem* key = FindKeyItem(AKey, false);
  return key == nullptr ? -1 : key->Value.kvType;
}

void TrsStorage::SetKeyType(std::string_view AKey, int AValue) {
  TrsKeyItem* key = FindKeyItem(AKey, false);
  if (key == nullptr || key->Value.kvType == AValue) return;
  // A value stored for another kind would be misread under the new one: it goes.
  key->Value.kvType = static_cast<uint16_t>(AValue);
  key->Value.Clear();
}

uint16_t TrsStorage::GetKeyOptions(std::string_view AKey) {
  const TrsKeyItem* key = FindKeyItem(AKey, false);
  return key == nullptr ? uint16_t{0} : key->Value.Options;
}

void TrsStorage::SetKeyOptions(std::string_view AKey, uint16_t AValue) {
  if (TrsKeyItem* key = FindKeyItem(AKey, false)) key->Value.Options = AValue;
}

void TrsStorage::Clear() {
  {
    const TrsMutedClients muted(FClientList);
    RemoveSectionContent(FSectionIdx, false);
    RecomputeSectionMaxId();
    RecomputeRanges();
  }
  FClientList.DoNotification(scnSectionClear, SectionFullPath(FSectionIdx));
}

void TrsStorage::ClearAll() {
  const TrsStateFlag clearing(FCurrentStates, ssClearing);
  {
    const TrsMutedClients muted(FClientList);
    for (int i = 0; i < KeyItemCount(); ++i) DoKeyDeletion(i);
    FKeyList.Clear();
    std::vector<TrsSectionItem>().swap(FSectionList);
    FSectionIdx = -1;
    FRootSection.clear();
    FSectionMaxId = 0;
    FKeyIndex = FSectionIndex = -1;
    FKeyWrapper.FKeyIndex = -1;
    FSectionWrapper.FSectionIndex = -1;
    DropCaches();
    RecomputeRanges();
  }
  FClientList.DoNotification(scnClear, {});
}

// --- iteration ----------------------------------------------------------------------------

int TrsStorage::SectionFirst() {
  FSectionIndex = FSectionList.empty() ? -1 : 0;
  return FSectionWrapper.FSectionIndex = FSectionIndex;
}

int TrsStorage::SectionNext() {
  if (FSectionIndex >= 0) FSectionIndex = FSectionIndex + 1 < SectionItemCount() ? FSectionIndex + 1 : -1;
  return FSectionWrapper.FSectionIndex = FSectionIndex;
}

int TrsStorage::SectionPrior() {
  if (FSectionIndex >= 0) --FSectionIndex;
  return FSectionWrapper.FSectionIndex = FSectionIndex;
}

int TrsStorage::SectionLast() {
  FSectionIndex = SectionItemCount() - 1;
  return FSectionWrapper.FSectionIndex = FSectionIndex;
}

int TrsStorage::KeyFirst() {
  if (FRootSection.empty()) {
    FKeyIterationsBegin = 0;
    FKeyIterationsEnd = KeyItemCount() - 1;
  } else {
    FKeyIterationsBegin = FKeyBeginIdx;
    FKeyIterationsEnd = FKeyBeginIdx < 0 ? -2 : FKeyEndIdx - 1;
  }
  FKeyIndex = FKeyIterationsBegin >= 0 && FKeyIterationsBegin <= FKeyIterationsEnd ? FKeyIterationsBegin : -1;
  return FKeyWrapper.FKeyIndex = FKeyIndex;
}

int TrsStorage::KeyLast() {
  KeyFirst();
  FKeyIndex = FKeyIndex >= 0 ? FKeyIterationsEnd : -1;
  return FKeyWrapper.FKeyIndex = FKeyIndex;
}

int TrsStorage::KeyNext() {
  // The range was fixed by KeyFirst; keys removed since may have shortened the array.
  if (FKeyIndex >= 0) FKeyIndex = FKeyIndex + 1 <= FKeyIterationsEnd && FKeyIndex + 1 < KeyItemCount() ? FKeyIndex + 1 : -1;
  return FKeyWrapper.FKeyIndex = FKeyIndex;
}

int TrsStorage::KeyPrior() {
  if (FKeyIndex >= 0) FKeyIndex = FKeyIndex - 1 >= FKeyIterationsBegin ? FKeyIndex - 1 : -1;
  return FKeyWrapper.FKeyIndex = FKeyIndex;
}

// --- events -------------------------------------------------------------------------------

void TrsStorage::DoKeyAdd(int AIndex) {
  FKeyWrapper.FKeyIndex = AIndex;
  const std::string name = FKeyList[AIndex].Name;
  FClientList.DoNotification(scnKeyAdd, name);
  if (FOnKeyAdd) FOnKeyAdd(this, name);
}

void TrsStorage::DoKeyDeletion(int AIndex) {
  FKeyWrapper.FKeyIndex = AIndex;
  const std::string name = FKeyList[AIndex].Name;
  FClientList.DoNotification(scnKeyDelete, name);
  if (FOnKeyDeletion) FOnKeyDeletion(this, name);
}

}  // namespace velloran
