// ZorBFile, the public face of the block file: every member forwards to the
// file's representation (block_file_impl.h says where each part lives).
// Only Lock stays here, because it hands out the object itself.
#include <zorvane/block_file.h>

#include "storage/block_file/block_file_impl.h"

namespace zorvane {

ZorBFile::ZorBFile() : _rep(new Rep(this)) {}
ZorBFile::~ZorBFile() { delete _rep; }

// ------------------------------------------------------------ static

void ZorBFile::Create(const ZorFsa* path, int32_t fileType, int32_t signature, const char* creaStr,
                      eZorFsaCreation creation, bool, iMobUco*) {
  Rep::Create(path, fileType, signature, creaStr, creation);
}
void ZorBFile::CreateOnStream(iZorStream* stream, int32_t fileType, int32_t signature, const char* creaStr) {
  Rep::CreateOnStream(stream, fileType, signature, creaStr);
}
int64_t ZorBFile::Is(const ZorFsa* path, bool showMsg, int32_t fileType, int32_t signature, int32_t* outType,
                     int32_t* outSignature, int64_t* outCounter) {
  return Rep::Is(path, showMsg, fileType, signature, outType, outSignature, outCounter);
}
void ZorBFile::Salvage(const ZorFsa* in, const ZorFsa* out, ZorVerif* report, ZorProgress* display,
                       sZorBfSalvage* result) {
  Rep::Salvage(in, out, report, display, result);
}

// ------------------------------------------------------------ open, close

void ZorBFile::Open(const ZorFsa* path, eZorStreamPerm access, eZorStreamPerm sharing, int32_t openFlags,
                    int32_t cacheBlocks, int32_t fileType, int32_t signature) {
  _rep->Open(path, access, sharing, openFlags, cacheBlocks, fileType, signature);
}
void ZorBFile::OpenOnStream(iZorStream* stream, const ZorFsa* pathForMessages, int32_t openFlags,
                            int32_t cacheBlocks, int32_t fileType, int32_t signature, iZorStream* journal) {
  _rep->OpenOnStream(stream, pathForMessages, openFlags, cacheBlocks, fileType, signature, journal);
}
void ZorBFile::Close(eZorBfClose mode) { _rep->Close(mode); }
bool ZorBFile::IsOpen() const { return _rep->IsOpen(); }
const ZorFsa* ZorBFile::GetFsa() const { return &_rep->_path; }
bool ZorBFile::IsWriteEnable() const { return _rep->IsWriteEnable(); }
bool ZorBFile::IsDistant() const { return _rep->IsDistant(); }
bool ZorBFile::WasOpen() const { return _rep->WasOpen(); }
iZorStream* ZorBFile::GetStream() const { return _rep->_stream; }
int32_t ZorBFile::GetOpenFlags() const { return _rep->_openFlags; }

// ------------------------------------------------------------ header

int32_t ZorBFile::GetFType() const { return _rep->GetFType(); }
int32_t ZorBFile::GetFGuId() const { return _rep->GetFGuId(); }
int32_t ZorBFile::GetSignature() const { return _rep->GetSignature(); }
int32_t ZorBFile::GetUserRel() const { return _rep->GetUserRel(); }
const char* ZorBFile::GetCreaStr(string* dst) const { return _rep->GetCreaStr(dst); }
int32_t ZorBFile::GetUserData(int32_t index) const { return _rep->GetUserData(index); }
void ZorBFile::GetUserArray(int32_t* out64) const { _rep->GetUserArray(out64); }
void ZorBFile::SetFType(int32_t value) { _rep->SetFType(value); }
void ZorBFile::SetFGuId(int32_t value) { _rep->SetFGuId(value); }
void ZorBFile::SetSignature(int32_t value) { _rep->SetSignature(value); }
void ZorBFile::SetUserRel(int32_t value) { _rep->SetUserRel(value); }
void ZorBFile::SetCreaStr(const char* text) { _rep->SetCreaStr(text); }
void ZorBFile::SetUserData(int32_t index, int32_t value) { _rep->SetUserData(index, value); }
void ZorBFile::SetUserArray(const int32_t* in64) { _rep->SetUserArray(in64); }
uint64_t ZorBFile::GetUpdateCounter() const { return _rep->GetUpdateCounter(); }
uint32_t ZorBFile::GetDataStart() const { return _rep->_dataStart(); }

// ------------------------------------------------------------ safety

int32_t ZorBFile::GetCrashFlag(bool reset) { return _rep->GetCrashFlag(reset); }
bool ZorBFile::IsBadClose(bool reset) { return _rep->IsBadClose(reset); }
int32_t ZorBFile::BadOpenCount(bool reset) { return _rep->BadOpenCount(reset); }
void ZorBFile::SetSecuFlag() { _rep->SetSecuFlag(); }
void ZorBFile::ClrSecuFlag() { _rep->ClrSecuFlag(); }
iZorStream* ZorBFile::SetModeBackup(bool backup) { return _rep->SetModeBackup(backup); }
void ZorBFile::SetDoMsg(bool on) { _rep->SetDoMsg(on); }
void ZorBFile::SetDisableFlush() { _rep->_openFlags |= ZorBfOpenNoFlush; }

// ------------------------------------------------------------ transactions

void ZorBFile::StartTransaction() { _rep->StartTransaction(); }
void ZorBFile::EndTransaction() { _rep->EndTransaction(); }
void ZorBFile::FlushTransaction() { _rep->FlushTransaction(); }
int32_t ZorBFile::CountTransaction() const { return _rep->_depth; }

// ------------------------------------------------------------ blocks

int32_t ZorBFile::BCreate(ZorHandle* data, int32_t owner, int16_t type, uint32_t reserve, bool compact) {
  return _rep->BCreate(data, owner, type, reserve, compact);
}
void ZorBFile::BRead(int32_t id, ZorHandle* out) { _rep->BRead(id, out); }
void ZorBFile::BReadCopy(int32_t id, ZorHandle* out) { _rep->BReadCopy(id, out); }
bool ZorBFile::BReadPart(int32_t id, uint32_t offset, uint32_t len, void* out) {
  return _rep->BReadPart(id, offset, len, out);
}
void ZorBFile::BWrite(int32_t id, int32_t reserve) { _rep->BWrite(id, reserve); }
void ZorBFile::BWriteCopy(int32_t id, ZorHandle* data, int32_t reserve) { _rep->BWriteCopy(id, data, reserve); }
int32_t ZorBFile::BDuplicate(int32_t id, int32_t owner, int16_t type, uint32_t reserve) {
  return _rep->BDuplicate(id, owner, type, reserve);
}
void ZorBFile::BDelete(int32_t id) { _rep->BDelete(id); }
void ZorBFile::BMultiDelete(int32_t owner, int16_t type) { _rep->BMultiDelete(owner, type); }
void ZorBFile::BRangeDelete(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo) {
  _rep->BRangeDelete(ownerFrom, ownerTo, typeFrom, typeTo);
}
int32_t ZorBFile::BUsed(int32_t id) { return _rep->BUsed(id); }
bool ZorBFile::BExist(int32_t id, int32_t* count) { return _rep->BExist(id, count); }
int32_t ZorBFile::BGetSize(int32_t id) { return _rep->BGetSize(id); }
void ZorBFile::BUncach(int32_t id) { _rep->BUncach(id); }
void ZorBFile::BMultiUncach(int32_t owner, int16_t type) { _rep->BMultiUncach(owner, type); }
bool ZorBFile::BIsCompact(int32_t id) { return _rep->BIsCompact(id); }
void ZorBFile::BSetCompact(int32_t id, bool compact, int32_t owner, int16_t type) {
  _rep->BSetCompact(id, compact, owner, type);
}
void ZorBFile::BSetOwner(int32_t id, int32_t owner) { _rep->BSetOwner(id, owner); }
void ZorBFile::BSetType(int32_t id, int16_t type) { _rep->BSetType(id, type); }
void ZorBFile::BChangeOwner(int32_t oldOwner, int32_t newOwner, int16_t typeLow, int16_t typeHigh) {
  _rep->BChangeOwner(oldOwner, newOwner, typeLow, typeHigh);
}
void ZorBFile::BChangeType(int16_t oldType, int16_t newType, int32_t ownerLow, int32_t ownerHigh) {
  _rep->BChangeType(oldType, newType, ownerLow, ownerHigh);
}
int32_t ZorBFile::BGetOTBlockId(int32_t owner, int16_t type, int32_t need) {
  return _rep->BGetOTBlockId(owner, type, need);
}
void ZorBFile::BGetID(int32_t ownerFrom, int32_t ownerTo, int16_t typeFrom, int16_t typeTo, ZorBGet* out,
                      int32_t offset, bool zero) {
  _rep->BGetID(ownerFrom, ownerTo, typeFrom, typeTo, out, offset, zero);
}
void ZorBFile::EmptyFile(bool resetCounter) { _rep->EmptyFile(resetCounter); }
int32_t ZorBFile::GetNbBlock(int32_t* freeWithSpace, int32_t* emptySlots) {
  return _rep->GetNbBlock(freeWithSpace, emptySlots);
}
bool ZorBFile::GetBlockInfo(int32_t id, int32_t* owner, int16_t* type, int32_t* size, uint32_t* capacity,
                            uint8_t* flags) {
  return _rep->GetBlockInfo(id, owner, type, size, capacity, flags);
}
uint64_t ZorBFile::GetSize(int32_t* dirBytes, int32_t* usedBytes, uint32_t* reservedBytes) {
  return _rep->GetSize(dirBytes, usedBytes, reservedBytes);
}

// ------------------------------------------------------------ maintenance

bool ZorBFile::NeedCompact(eZorBfCompact mode) { return _rep->NeedCompact(mode); }
bool ZorBFile::Compact(eZorBfCompact mode, bool showMsg, bool showProgress, ZorProgress* display) {
  return _rep->Compact(mode, showMsg, showProgress, display);
}
bool ZorBFile::CheckDir(ZorVerif* verif) { return _rep->CheckDir(verif); }
bool ZorBFile::CheckBlockOwnerType(ZorVerif* verif) { return _rep->CheckBlockOwnerType(verif); }
bool ZorBFile::CheckLostSpace(ZorVerif* verif) { return _rep->CheckLostSpace(verif); }
bool ZorBFile::CheckCrossBlock(ZorVerif* verif) { return _rep->CheckCrossBlock(verif); }
uint32_t ZorBFile::GetRecordedDirCount() const {
  return static_cast<uint32_t>(_rep->_dirCount()) + _rep->_missingEntries;
}
bool ZorBFile::GetEntry(int32_t id, sZorBfBRef* out) const { return _rep->GetEntry(id, out); }
int32_t ZorBFile::GetDirCount() const { return _rep->_dirCount(); }
void ZorBFile::GetJournalInfo(sZorBfJournalInfo* out) const { _rep->GetJournalInfo(out); }

// ------------------------------------------------------------ cache figures

int32_t ZorBFile::GetCacheCount() const { return _rep->_cachedCount; }
int32_t ZorBFile::GetCacheLimit() const { return _rep->_cacheLimit; }
int32_t ZorBFile::GetDirtyCount() const { return _rep->_dirtyCount; }

// ------------------------------------------------------------ interfaces

void* ZorBFile::Lock(ZorLock* guard) {
  _rep->StartTransaction();
  if (guard) guard->Init(this);
  return this;
}
void ZorBFile::Unlock() { _rep->Unlock(); }
bool ZorBFile::Purge(int32_t bytes) { return _rep->Purge(bytes); }

}  // namespace zorvane
