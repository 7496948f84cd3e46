// The test host's descriptor store and its read and write procedure tables.
#include "filterhost/host_descriptors.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>

#include "filterhost/test_host_internal.h"

namespace {

constexpr uint32_t kDescriptorTag = FourCC("TDS1");
// Items and lengths beyond these are treated as a corrupt descriptor.
constexpr uint32_t kMaxItems = 1 << 16;
constexpr size_t kMaxKeys = 1024;

struct ByteWriter {
  std::vector<uint8_t> bytes;
  void Raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  void U32(uint32_t v) { Raw(&v, 4); }
  void Blob(const std::string& s) {
    U32(uint32_t(s.size()));
    Raw(s.data(), s.size());
  }
};

struct ByteReader {
  const uint8_t* p;
  size_t left;
  bool ok = true;
  bool Raw(void* out, size_t n) {
    if (!ok || n > left) return ok = false;
    std::memcpy(out, p, n);
    p += n;
    left -= n;
    return true;
  }
  uint32_t U32() {
    uint32_t v = 0;
    Raw(&v, 4);
    return v;
  }
  std::string Blob() {
    uint32_t n = U32();
    if (!ok || n > left) {
      ok = false;
      return std::string();
    }
    std::string s(reinterpret_cast<const char*>(p), n);
    p += n;
    left -= n;
    return s;
  }
};

bool IsTextType(DescriptorTypeID type) {
  return type == typeText || type == kTypeAlias || type == kTypeSimpleReference;
}
bool IsObjectType(DescriptorTypeID type) {
  return type == kTypeObject || type == kTypeScopedObject;
}
bool IsClassType(DescriptorTypeID type) {
  return type == kTypeClass || type == kTypeScopedClass;
}

}  // namespace

DescriptorItem IntegerItem(DescriptorKeyID key, int32_t value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeInteger;
  item.integer = value;
  return item;
}

DescriptorItem FloatItem(DescriptorKeyID key, double value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeFloat;
  item.number = value;
  return item;
}

DescriptorItem BooleanItem(DescriptorKeyID key, bool value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeBoolean;
  item.integer = value ? 1 : 0;
  return item;
}

DescriptorItem EnumeratedItem(DescriptorKeyID key, DescriptorTypeID enumType,
                              DescriptorEnumID value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeEnumerated;
  item.enumType = enumType;
  item.enumValue = value;
  return item;
}

DescriptorItem TextItem(DescriptorKeyID key, const std::string& text) {
  DescriptorItem item;
  item.key = key;
  item.type = typeText;
  item.bytes = text;
  return item;
}

const DescriptorItem* FindDescriptorItem(const std::vector<DescriptorItem>& items,
                                         DescriptorKeyID key) {
  for (const DescriptorItem& item : items) {
    if (item.key == key) return &item;
  }
  return nullptr;
}

std::vector<uint8_t> SerializeDescriptor(const std::vector<DescriptorItem>& items) {
  ByteWriter w;
  w.U32(kDescriptorTag);
  w.U32(uint32_t(items.size()));
  for (const DescriptorItem& item : items) {
    w.U32(item.key);
    w.U32(item.type);
    if (item.type == typeFloat) {
      w.Raw(&item.number, 8);
    } else if (item.type == kTypeUnitFloat) {
      w.U32(item.unit);
      w.Raw(&item.number, 8);
    } else if (item.type == typeBoolean) {
      uint8_t b = item.integer ? 1 : 0;
      w.Raw(&b, 1);
    } else if (item.type == typeEnumerated) {
      w.U32(item.enumType);
      w.U32(item.enumValue);
    } else if (IsClassType(item.type)) {
      w.U32(item.classID);
    } else if (IsTextType(item.type)) {
      w.Blob(item.bytes);
    } else if (IsObjectType(item.type)) {
      w.U32(item.classID);
      w.Blob(item.bytes);
    } else {
      w.U32(uint32_t(item.integer));  // integers, counts and anything unknown
    }
  }
  return std::move(w.bytes);
}

bool ParseDescriptor(const uint8_t* bytes, size_t size, std::vector<DescriptorItem>* items) {
  items->clear();
  if (!bytes) return false;
  ByteReader r{bytes, size};
  if (r.U32() != kDescriptorTag) return false;
  const uint32_t count = r.U32();
  if (!r.ok || count > kMaxItems) return false;
  for (uint32_t i = 0; i < count && r.ok; ++i) {
    DescriptorItem item;
    item.key = r.U32();
    item.type = r.U32();
    if (item.type == typeFloat) {
      r.Raw(&item.number, 8);
    } else if (item.type == kTypeUnitFloat) {
      item.unit = r.U32();
      r.Raw(&item.number, 8);
    } else if (item.type == typeBoolean) {
      uint8_t b = 0;
      r.Raw(&b, 1);
      item.integer = b;
    } else if (item.type == typeEnumerated) {
      item.enumType = r.U32();
      item.enumValue = r.U32();
    } else if (IsClassType(item.type)) {
      item.classID = r.U32();
    } else if (IsTextType(item.type)) {
      item.bytes = r.Blob();
    } else if (IsObjectType(item.type)) {
      item.classID = r.U32();
      item.bytes = r.Blob();
    } else {
      item.integer = int32_t(r.U32());
    }
    items->push_back(std::move(item));
  }
  if (!r.ok || r.left != 0) {
    items->clear();
    return false;
  }
  return true;
}

// ---- store life cycle ------------------------------------------------------------------

Handle MakeDescriptorHandle(TestHost& host, const std::vector<DescriptorItem>& items) {
  const std::vector<uint8_t> bytes = SerializeDescriptor(items);
  Handle h = NewTrackedHandle(host, int32_t(bytes.size()));
  if (h) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

bool ReadDescriptorHandle(TestHost& host, Handle handle, std::vector<DescriptorItem>* items) {
  TrackedHandle* block = FindLiveHandle(host, handle);
  if (!block) return false;
  return ParseDescriptor(reinterpret_cast<const uint8_t*>(block->data), size_t(block->size), items);
}

void CloseDescriptorSessions(TestHost& host) {
  if (!host.state->readSessions.empty()) {
    ReportProblem(host, std::to_string(host.state->readSessions.size()) +
                            " descriptor reader(s) left open");
  }
  if (!host.state->writeSessions.empty()) {
    ReportProblem(host, std::to_string(host.state->writeSessions.size()) +
                            " descriptor writer(s) left open");
  }
  host.state->readSessions.clear();
  host.state->writeSessions.clear();
}

// ---- read procedures ---------------------------------------------------------------------

namespace {

ReadSession* FindReader(TestHost* host, PIReadDescriptor token) {
  if (!host) return nullptr;
  for (auto& session : host->state->readSessions) {
    if (session.get() == token) return session.get();
  }
  ReportProblem(*host, "descriptor procedure called with an unknown reader");
  return nullptr;
}

// Errors are sticky: the first real error wins over later ones and over coercions.
OSErr NoteReadResult(ReadSession* session, OSErr err) {
  if (err != noErr && (session->error == noErr || session->error == coercedParamErr)) {
    session->error = err;
  }
  return err;
}

// The item the last getKeyProc delivered, or null (paramErr) when there is none.
const DescriptorItem* CurrentItem(PIReadDescriptor token, ReadSession** sessionOut) {
  ReadSession* session = FindReader(ActiveHost(), token);
  *sessionOut = session;
  if (!session) return nullptr;
  if (!session->current) NoteReadResult(session, paramErr);
  return session->current;
}

bool IsNumberType(DescriptorTypeID type) {
  return type == typeFloat || type == kTypeUnitFloat;
}

PIReadDescriptor HOSTCALL OpenReader(Handle descriptor, DescriptorKeyID* keyArray) {
  TestHost* host = ActiveHost();
  if (!host || !descriptor) return nullptr;
  return GuardedCall<PIReadDescriptor>(nullptr, [&]() -> PIReadDescriptor {
    auto session = std::make_unique<ReadSession>();
    if (!ReadDescriptorHandle(*host, descriptor, &session->items)) {
      ReportProblem(*host, "openReadDescriptorProc given a handle that is not a live descriptor");
      return nullptr;
    }
    session->keyArray = keyArray;
    if (keyArray) {
      for (size_t i = 0; i < kMaxKeys && keyArray[i] != 0; ++i) session->expectedKeys.push_back(keyArray[i]);
    }
    session->delivered.assign(session->expectedKeys.size(), false);
    ReadSession* token = session.get();
    host->state->readSessions.push_back(std::move(session));
    return token;
  });
}

OSErr HOSTCALL CloseReader(PIReadDescriptor token) {
  TestHost* host = ActiveHost();
  ReadSession* session = FindReader(host, token);
  if (!session) return paramErr;
  const OSErr err = session->error;
  auto& sessions = host->state->readSessions;
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [&](const std::unique_ptr<ReadSession>& s) { return s.get() == session; }),
                 sessions.end());
  return err;
}

HostBoolean HOSTCALL GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type,
                            int32_t* flags) {
  ReadSession* session = FindReader(ActiveHost(), token);
  if (!session || session->next >= session->items.size()) {
    if (session) session->current = nullptr;
    return 0;
  }
  const DescriptorItem& item = session->items[session->next++];
  session->current = &item;
  if (key) *key = item.key;
  if (type) *type = item.type;
  if (flags) *flags = 0;
  // Mark the key as supplied in the plug-in's array (first entry not yet cleared).
  for (size_t i = 0; i < session->expectedKeys.size(); ++i) {
    if (!session->delivered[i] && session->expectedKeys[i] == item.key) {
      session->delivered[i] = true;
      session->keyArray[i] = 0;
      break;
    }
  }
  return 1;
}

OSErr HOSTCALL GetInteger(PIReadDescriptor token, int32_t* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type == typeInteger) {
    if (value) *value = item->integer;
    return noErr;
  }
  if (IsNumberType(item->type)) {
    if (value) *value = int32_t(std::lround(item->number));
    return NoteReadResult(session, coercedParamErr);
  }
  return NoteReadResult(session, paramErr);
}

OSErr HOSTCALL GetPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value) {
  ReadSession* session;
  int32_t v = 0;
  OSErr err = GetInteger(token, &v);
  if (err != noErr && err != coercedParamErr) return err;
  CurrentItem(token, &session);
  if (v < min || v > max) {
    v = v < min ? min : max;
    err = NoteReadResult(session, coercedParamErr);
  }
  if (value) *value = v;
  return err;
}

OSErr HOSTCALL GetFloat(PIReadDescriptor token, double* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type == typeFloat) {
    if (value) *value = item->number;
    return noErr;
  }
  if (item->type == typeInteger || item->type == kTypeUnitFloat) {
    if (value) *value = item->type == typeInteger ? double(item->integer) : item->number;
    return NoteReadResult(session, coercedParamErr);
  }
  return NoteReadResult(session, paramErr);
}

OSErr HOSTCALL GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, double* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != kTypeUnitFloat) return NoteReadResult(session, paramErr);
  if (unit) *unit = item->unit;
  if (value) *value = item->number;
  return noErr;
}

OSErr PinFloat(ReadSession* session, OSErr err, const double* min, const double* max, double* value) {
  if (err != noErr && err != coercedParamErr) return err;
  if (min && *value < *min) {
    *value = *min;
    err = NoteReadResult(session, coercedParamErr);
  } else if (max && *value > *max) {
    *value = *max;
    err = NoteReadResult(session, coercedParamErr);
  }
  return err;
}

OSErr HOSTCALL GetPinnedFloat(PIReadDescriptor token, double* min, double* max, double* value) {
  ReadSession* session;
  double v = 0;
  OSErr err = GetFloat(token, &v);
  CurrentItem(token, &session);
  if (!session) return paramErr;
  err = PinFloat(session, err, min, max, &v);
  if (value) *value = v;
  return err;
}

OSErr HOSTCALL GetPinnedUnitFloat(PIReadDescriptor token, double* min, double* max,
                                  DescriptorUnitID* unit, double* value) {
  ReadSession* session;
  double v = 0;
  OSErr err = GetUnitFloat(token, unit, &v);
  CurrentItem(token, &session);
  if (!session) return paramErr;
  err = PinFloat(session, err, min, max, &v);
  if (value) *value = v;
  return err;
}

OSErr HOSTCALL GetBoolean(PIReadDescriptor token, HostBoolean* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != typeBoolean) return NoteReadResult(session, paramErr);
  if (value) *value = item->integer ? 1 : 0;
  return noErr;
}

// Text-like values come back in a new host handle that the plug-in disposes.
OSErr GetBytesHandle(PIReadDescriptor token, DescriptorTypeID wanted, Handle* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != wanted) return NoteReadResult(session, paramErr);
  if (item->bytes.size() > size_t(INT32_MAX)) return NoteReadResult(session, memFullErr);
  Handle h = NewTrackedHandle(*ActiveHost(), int32_t(item->bytes.size()));
  if (!h) return NoteReadResult(session, memFullErr);
  if (!item->bytes.empty()) std::memcpy(*h, item->bytes.data(), item->bytes.size());
  if (value) {
    *value = h;
  } else {
    DisposeTrackedHandle(*ActiveHost(), h);
  }
  return noErr;
}

OSErr HOSTCALL GetText(PIReadDescriptor token, Handle* value) {
  return GetBytesHandle(token, typeText, value);
}

OSErr HOSTCALL GetAlias(PIReadDescriptor token, Handle* value) {
  return GetBytesHandle(token, kTypeAlias, value);
}

OSErr HOSTCALL GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != typeEnumerated) return NoteReadResult(session, paramErr);
  if (value) *value = item->enumValue;
  return noErr;
}

OSErr HOSTCALL GetClass(PIReadDescriptor token, DescriptorClassID* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (!IsClassType(item->type)) return NoteReadResult(session, paramErr);
  if (value) *value = item->classID;
  return noErr;
}

OSErr HOSTCALL GetSimpleReference(PIReadDescriptor token, PIDescriptorSimpleReference* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != kTypeSimpleReference || item->bytes.size() != sizeof(PIDescriptorSimpleReference)) {
    return NoteReadResult(session, paramErr);
  }
  if (value) std::memcpy(value, item->bytes.data(), sizeof(*value));
  return noErr;
}

OSErr HOSTCALL GetObjectItem(PIReadDescriptor token, DescriptorClassID* type, Handle* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (!IsObjectType(item->type)) return NoteReadResult(session, paramErr);
  if (type) *type = item->classID;
  return GetBytesHandle(token, item->type, value);
}

OSErr HOSTCALL GetCount(PIReadDescriptor token, uint32_t* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != typeInteger) return NoteReadResult(session, paramErr);
  if (value) *value = uint32_t(item->integer);
  return noErr;
}

OSErr HOSTCALL GetString(PIReadDescriptor token, unsigned char* value) {
  ReadSession* session;
  const DescriptorItem* item = CurrentItem(token, &session);
  if (!item) return paramErr;
  if (item->type != typeText) return NoteReadResult(session, paramErr);
  const size_t n = std::min<size_t>(item->bytes.size(), 255);
  if (value) {
    value[0] = uint8_t(n);
    std::memcpy(value + 1, item->bytes.data(), n);
  }
  if (n == item->bytes.size()) return noErr;
  return NoteReadResult(session, coercedParamErr);  // truncated to 255 characters
}

// ---- write procedures --------------------------------------------------------------------

WriteSession* FindWriter(TestHost* host, PIWriteDescriptor token) {
  if (!host) return nullptr;
  for (auto& session : host->state->writeSessions) {
    if (session.get() == token) return session.get();
  }
  ReportProblem(*host, "descriptor procedure called with an unknown writer");
  return nullptr;
}

OSErr Put(PIWriteDescriptor token, DescriptorItem item) {
  WriteSession* session = FindWriter(ActiveHost(), token);
  if (!session) return paramErr;
  return GuardedCall<OSErr>(memFullErr, [&]() -> OSErr {
    session->items.push_back(std::move(item));
    return noErr;
  });
}

// Copies a plug-in handle's contents; false for a handle the host does not know.
bool HandleBytes(Handle h, std::string* out) {
  TestHost* host = ActiveHost();
  if (!host) return false;
  TrackedHandle* block = FindLiveHandle(*host, h);
  if (!block) {
    ReportProblem(*host, "descriptor put procedure given an unknown handle");
    return false;
  }
  return GuardedCall(false, [&] {
    out->assign(block->data, size_t(block->size));
    return true;
  });
}

PIWriteDescriptor HOSTCALL OpenWriter() {
  TestHost* host = ActiveHost();
  if (!host) return nullptr;
  return GuardedCall<PIWriteDescriptor>(nullptr, [&]() -> PIWriteDescriptor {
    host->state->writeSessions.push_back(std::make_unique<WriteSession>());
    return host->state->writeSessions.back().get();
  });
}

OSErr HOSTCALL CloseWriter(PIWriteDescriptor token, Handle* newDescriptor) {
  TestHost* host = ActiveHost();
  WriteSession* session = FindWriter(host, token);
  if (!session) return paramErr;
  Handle h = GuardedCall<Handle>(nullptr, [&] { return MakeDescriptorHandle(*host, session->items); });
  auto& sessions = host->state->writeSessions;
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [&](const std::unique_ptr<WriteSession>& s) { return s.get() == session; }),
                 sessions.end());
  if (newDescriptor) {
    *newDescriptor = h;
  } else if (h) {
    DisposeTrackedHandle(*host, h);
  }
  return h ? noErr : memFullErr;
}

OSErr HOSTCALL PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
  return Put(token, IntegerItem(key, value));
}

OSErr HOSTCALL PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
  if (!value) return paramErr;
  return Put(token, FloatItem(key, *value));
}

OSErr HOSTCALL PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                            const double* value) {
  if (!value) return paramErr;
  DescriptorItem item = FloatItem(key, *value);
  item.type = kTypeUnitFloat;
  item.unit = unit;
  return Put(token, item);
}

OSErr HOSTCALL PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, HostBoolean value) {
  return Put(token, BooleanItem(key, value != 0));
}

OSErr PutBytes(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
               DescriptorClassID classID, Handle value) {
  DescriptorItem item;
  item.key = key;
  item.type = type;
  item.classID = classID;
  if (!HandleBytes(value, &item.bytes)) return paramErr;
  return Put(token, std::move(item));
}

OSErr HOSTCALL PutText(PIWriteDescriptor token, DescriptorKeyID key, Handle value) {
  return PutBytes(token, key, typeText, 0, value);
}

OSErr HOSTCALL PutAlias(PIWriteDescriptor token, DescriptorKeyID key, Handle value) {
  return PutBytes(token, key, kTypeAlias, 0, value);
}

OSErr HOSTCALL PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                             DescriptorEnumID value) {
  return Put(token, EnumeratedItem(key, type, value));
}

OSErr PutClassOf(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                 DescriptorClassID value) {
  DescriptorItem item;
  item.key = key;
  item.type = type;
  item.classID = value;
  return Put(token, item);
}

OSErr HOSTCALL PutClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID value) {
  return PutClassOf(token, key, kTypeClass, value);
}

OSErr HOSTCALL PutScopedClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID value) {
  return PutClassOf(token, key, kTypeScopedClass, value);
}

OSErr HOSTCALL PutSimpleReference(PIWriteDescriptor token, DescriptorKeyID key,
                                  const PIDescriptorSimpleReference* value) {
  if (!value) return paramErr;
  DescriptorItem item;
  item.key = key;
  item.type = kTypeSimpleReference;
  return GuardedCall<OSErr>(memFullErr, [&] {
    item.bytes.assign(reinterpret_cast<const char*>(value), sizeof(*value));
    return Put(token, std::move(item));
  });
}

OSErr HOSTCALL PutObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID type,
                         Handle value) {
  return PutBytes(token, key, kTypeObject, type, value);
}

OSErr HOSTCALL PutScopedObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID type,
                               Handle value) {
  return PutBytes(token, key, kTypeScopedObject, type, value);
}

OSErr HOSTCALL PutCount(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count) {
  return Put(token, IntegerItem(key, int32_t(count)));
}

OSErr HOSTCALL PutString(PIWriteDescriptor token, DescriptorKeyID key, const unsigned char* value) {
  if (!value) return paramErr;
  return GuardedCall<OSErr>(memFullErr, [&] {
    return Put(token, TextItem(key, std::string(reinterpret_cast<const char*>(value + 1), value[0])));
  });
}

}  // namespace

void FillDescriptorProcs(ReadDescriptorProcs* read, WriteDescriptorProcs* write,
                         const HostFaults& faults) {
  *read = ReadDescriptorProcs{};
  read->readDescriptorProcsVersion = kCurrentReadDescriptorProcsVersion;
  read->numReadDescriptorProcs = faults.readProcsCount17 ? 17 : kCurrentReadDescriptorProcsCount;
  read->openReadDescriptorProc = OpenReader;
  read->closeReadDescriptorProc = CloseReader;
  read->getKeyProc = GetKey;
  read->getIntegerProc = GetInteger;
  read->getFloatProc = GetFloat;
  read->getUnitFloatProc = GetUnitFloat;
  read->getBooleanProc = GetBoolean;
  read->getTextProc = GetText;
  read->getAliasProc = GetAlias;
  read->getEnumeratedProc = GetEnumerated;
  read->getClassProc = GetClass;
  read->getSimpleReferenceProc = GetSimpleReference;
  read->getObjectProc = GetObjectItem;
  read->getCountProc = GetCount;
  read->getStringProc = GetString;
  read->getPinnedIntegerProc = GetPinnedInteger;
  read->getPinnedFloatProc = GetPinnedFloat;
  read->getPinnedUnitFloatProc = faults.readProcsNullProc ? nullptr : GetPinnedUnitFloat;

  *write = WriteDescriptorProcs{};
  write->writeDescriptorProcsVersion = kCurrentWriteDescriptorProcsVersion;
  write->numWriteDescriptorProcs = kCurrentWriteDescriptorProcsCount;
  write->openWriteDescriptorProc = OpenWriter;
  write->closeWriteDescriptorProc = CloseWriter;
  if (faults.writeProcsMissing) return;
  write->putIntegerProc = PutInteger;
  write->putFloatProc = PutFloat;
  write->putUnitFloatProc = PutUnitFloat;
  write->putBooleanProc = PutBoolean;
  write->putTextProc = PutText;
  write->putAliasProc = PutAlias;
  write->putEnumeratedProc = PutEnumerated;
  write->putClassProc = PutClass;
  write->putSimpleReferenceProc = PutSimpleReference;
  write->putObjectProc = PutObject;
  write->putCountProc = PutCount;
  write->putStringProc = PutString;
  write->putScopedClassProc = PutScopedClass;
  write->putScopedObjectProc = PutScopedObject;
}
