// The thin layer between the portable code and the operating system: events,
// threads, clocks, debugger output, system memory blocks, files, folders and the
// temporary folder. One POSIX and one Win32 implementation; nothing else in the
// portable code includes a system header.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- events and threads -----------------------------------------------------------
struct PlatformEvent;   // auto-reset event
struct PlatformThread;  // a joinable thread

PlatformEvent* PlatformEventCreate();  // null on failure
void PlatformEventSignal(PlatformEvent* event);
// Waits until the event is signalled (and resets it) or the timeout passes.
// Returns true when signalled. A negative timeout waits for ever.
bool PlatformEventWait(PlatformEvent* event, int32_t timeoutMs);
void PlatformEventDestroy(PlatformEvent* event);

typedef void (*PlatformThreadProc)(void* context);
// Starts a thread with the given stack size (0 = system default); null on failure.
PlatformThread* PlatformThreadStart(PlatformThreadProc proc, void* context, size_t stackBytes);
// Waits for the thread to end and releases it.
void PlatformThreadJoin(PlatformThread* thread);

int PlatformProcessorCount();  // at least 1

// ---- clocks and diagnostics ---------------------------------------------------------
uint32_t PlatformTickMs();        // monotonic milliseconds, wraps
int32_t PlatformCalendarSeconds();  // seconds since 1970
void PlatformDebugOutput(const char* text);  // debugger output; silent without debugger

// ---- system memory blocks: the fallback when the host offers no buffers ------------
// Zero-filled, movable-and-locked block (GlobalAlloc on Windows).
void* PlatformBlockAlloc(size_t bytes);
void PlatformBlockFree(void* block);

// ---- files and folders --------------------------------------------------------------
// Paths are zero-terminated 8-bit strings; the framework keeps them in 260-byte buffers.
constexpr int kPathMax = 260;

struct PlatformFile;
enum PlatformFileMode { kFileRead, kFileWriteTruncate, kFileReadWrite };
PlatformFile* PlatformFileOpen(const char* path, PlatformFileMode mode);  // null on failure
// Return the number of bytes transferred, -1 on failure.
int64_t PlatformFileRead(PlatformFile* file, void* buffer, size_t bytes);
int64_t PlatformFileWrite(PlatformFile* file, const void* buffer, size_t bytes);
bool PlatformFileSeek(PlatformFile* file, int64_t offset);
int64_t PlatformFileSize(PlatformFile* file);
bool PlatformFileSetEnd(PlatformFile* file);  // truncate at the current position
void PlatformFileClose(PlatformFile* file);

bool PlatformFileExists(const char* path);
bool PlatformFileIsReadOnly(const char* path);
bool PlatformFileDelete(const char* path);
bool PlatformFileMove(const char* from, const char* to);  // replaces an existing target
bool PlatformFolderCreate(const char* path);

// Calls visit once per entry of a folder (not "." and ".."); stops when visit returns
// false. Returns false when the folder cannot be read.
typedef bool (*PlatformFolderVisitor)(const char* name, bool isFolder, void* context);
bool PlatformFolderList(const char* folder, PlatformFolderVisitor visit, void* context);

// The system temporary folder, ending in a separator; "C:\Windows\Temp\" on Windows
// when the system reports none, "/tmp/" on POSIX. Returns the length written.
size_t PlatformTempFolder(char* out, size_t capacity);
char PlatformPathSeparator();
