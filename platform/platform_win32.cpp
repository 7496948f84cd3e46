// The platform layer on Windows: kernel events, runtime threads, movable global
// memory and the ANSI file functions.
#include "platform/platform.h"

#include <windows.h>
#include <process.h>

#include <string.h>
#include <time.h>

#include <new>
#include <string>

// ---- events and threads -----------------------------------------------------------

struct PlatformEvent {
  HANDLE handle;
};

struct PlatformThread {
  HANDLE handle;
  PlatformThreadProc proc;
  void* context;
};

PlatformEvent* PlatformEventCreate() {
  PlatformEvent* event = new (std::nothrow) PlatformEvent;
  if (!event) return nullptr;
  event->handle = CreateEventA(nullptr, FALSE /* auto-reset */, FALSE, nullptr);
  if (!event->handle) {
    delete event;
    return nullptr;
  }
  return event;
}

void PlatformEventSignal(PlatformEvent* event) {
  if (event) SetEvent(event->handle);
}

bool PlatformEventWait(PlatformEvent* event, int32_t timeoutMs) {
  if (!event) return false;
  DWORD timeout = timeoutMs < 0 ? INFINITE : DWORD(timeoutMs);
  return WaitForSingleObject(event->handle, timeout) == WAIT_OBJECT_0;
}

void PlatformEventDestroy(PlatformEvent* event) {
  if (!event) return;
  CloseHandle(event->handle);
  delete event;
}

static unsigned __stdcall RunThread(void* argument) {
  PlatformThread* thread = static_cast<PlatformThread*>(argument);
  thread->proc(thread->context);
  return 0;
}

PlatformThread* PlatformThreadStart(PlatformThreadProc proc, void* context, size_t stackBytes) {
  if (!proc) return nullptr;
  PlatformThread* thread = new (std::nothrow) PlatformThread;
  if (!thread) return nullptr;
  thread->proc = proc;
  thread->context = context;
  // The runtime's thread start (not CreateThread) so the C runtime's per-thread
  // state is set up for code that uses it. Windows rounds the size up itself.
  unsigned stack = stackBytes > 0x7fffffffu ? 0x7fffffffu : unsigned(stackBytes);
  uintptr_t handle = _beginthreadex(nullptr, stack, RunThread, thread, 0, nullptr);
  if (handle == 0) {
    delete thread;
    return nullptr;
  }
  thread->handle = reinterpret_cast<HANDLE>(handle);
  return thread;
}

void PlatformThreadJoin(PlatformThread* thread) {
  if (!thread) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

int PlatformProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

// ---- clocks and diagnostics ---------------------------------------------------------

uint32_t PlatformTickMs() { return GetTickCount(); }

int32_t PlatformCalendarSeconds() { return int32_t(time(nullptr)); }

void PlatformDebugOutput(const char* text) {
  if (text) OutputDebugStringA(text);
}

// ---- system memory blocks -----------------------------------------------------------

void* PlatformBlockAlloc(size_t bytes) {
  // A zero-byte movable block comes back discarded and cannot be locked.
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes ? bytes : 1);
  if (!block) return nullptr;
  void* memory = GlobalLock(block);
  if (!memory) GlobalFree(block);
  return memory;
}

void PlatformBlockFree(void* block) {
  if (!block) return;
  // Callers keep only the locked pointer; find the block's handle from it.
  HGLOBAL handle = GlobalHandle(block);
  if (!handle) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

// ---- files and folders --------------------------------------------------------------

struct PlatformFile {
  HANDLE handle;
};

PlatformFile* PlatformFileOpen(const char* path, PlatformFileMode mode) {
  if (!path || !*path) return nullptr;
  DWORD access = 0;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = 0;
  switch (mode) {
    case kFileRead: access = GENERIC_READ; disposition = OPEN_EXISTING; break;
    case kFileWriteTruncate: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
    case kFileReadWrite: access = GENERIC_READ | GENERIC_WRITE; disposition = OPEN_ALWAYS; break;
    default: return nullptr;
  }
  HANDLE handle = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  PlatformFile* file = new (std::nothrow) PlatformFile;
  if (!file) {
    CloseHandle(handle);
    return nullptr;
  }
  file->handle = handle;
  return file;
}

// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces.
static const size_t kFileChunk = size_t(1) << 30;

int64_t PlatformFileRead(PlatformFile* file, void* buffer, size_t bytes) {
  if (!file || (!buffer && bytes)) return -1;
  char* at = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < bytes) {
    DWORD chunk = DWORD(bytes - done < kFileChunk ? bytes - done : kFileChunk);
    DWORD got = 0;
    if (!ReadFile(file->handle, at + done, chunk, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return int64_t(done);
}

int64_t PlatformFileWrite(PlatformFile* file, const void* buffer, size_t bytes) {
  if (!file || (!buffer && bytes)) return -1;
  const char* at = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < bytes) {
    DWORD chunk = DWORD(bytes - done < kFileChunk ? bytes - done : kFileChunk);
    DWORD put = 0;
    if (!WriteFile(file->handle, at + done, chunk, &put, nullptr)) return -1;
    if (put == 0) break;
    done += put;
  }
  return int64_t(done);
}

bool PlatformFileSeek(PlatformFile* file, int64_t offset) {
  if (!file || offset < 0) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(file->handle, distance, nullptr, FILE_BEGIN) != 0;
}

int64_t PlatformFileSize(PlatformFile* file) {
  if (!file) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file->handle, &size)) return -1;
  return int64_t(size.QuadPart);
}

bool PlatformFileSetEnd(PlatformFile* file) {
  if (!file) return false;
  return SetEndOfFile(file->handle) != 0;
}

void PlatformFileClose(PlatformFile* file) {
  if (!file) return;
  CloseHandle(file->handle);
  delete file;
}

bool PlatformFileExists(const char* path) {
  if (!path || !*path) return false;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool PlatformFileIsReadOnly(const char* path) {
  if (!path || !*path) return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool PlatformFileDelete(const char* path) {
  if (!path || !*path) return false;
  return DeleteFileA(path) != 0;
}

bool PlatformFileMove(const char* from, const char* to) {
  if (!from || !*from || !to || !*to) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool PlatformFolderCreate(const char* path) {
  if (!path || !*path) return false;
  if (CreateDirectoryA(path, nullptr)) return true;
  // A folder that is already there is what the caller wanted.
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PlatformFolderList(const char* folder, PlatformFolderVisitor visit, void* context) {
  if (!folder || !*folder || !visit) return false;
  std::string pattern = folder;
  char last = pattern.back();
  if (last != '\\' && last != '/' && last != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const char* name = found.cFileName;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!visit(name, isFolder, context)) break;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

size_t PlatformTempFolder(char* out, size_t capacity) {
  if (!out || capacity == 0) return 0;
  char folder[MAX_PATH + 2];
  DWORD length = GetTempPathA(MAX_PATH + 1, folder);
  // Nothing reported, or a folder too long for the framework's 260-byte paths.
  if (length == 0 || length > MAX_PATH) {
    strcpy(folder, "C:\\Windows\\Temp\\");
    length = DWORD(strlen(folder));
  } else if (folder[length - 1] != '\\') {
    // The system's answer normally ends in a backslash; make sure callers can
    // append a name directly.
    folder[length++] = '\\';
    folder[length] = '\0';
  }
  // A folder that does not fit is not cut short: a truncated path names another folder.
  if (size_t(length) + 1 > capacity) {
    out[0] = '\0';
    return 0;
  }
  memcpy(out, folder, size_t(length) + 1);
  return size_t(length);
}

char PlatformPathSeparator() { return '\\'; }
