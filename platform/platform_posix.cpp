// The platform layer on Linux and other POSIX systems: pthreads, clock_gettime and
// plain file descriptors.
#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <string>

// ---- events and threads -----------------------------------------------------------

struct PlatformEvent {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  bool signalled;
};

struct PlatformThread {
  pthread_t thread;
  PlatformThreadProc proc;
  void* context;
};

PlatformEvent* PlatformEventCreate() {
  PlatformEvent* event = new (std::nothrow) PlatformEvent;
  if (!event) return nullptr;
  event->signalled = false;
  // Timeouts are measured on the monotonic clock so that a change of the wall clock
  // neither cuts a wait short nor stretches it.
  pthread_condattr_t attributes;
  bool conditionReady = false;
  if (pthread_condattr_init(&attributes) == 0) {
    conditionReady = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                     pthread_cond_init(&event->condition, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
  }
  if (!conditionReady) {
    delete event;
    return nullptr;
  }
  if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
    pthread_cond_destroy(&event->condition);
    delete event;
    return nullptr;
  }
  return event;
}

void PlatformEventSignal(PlatformEvent* event) {
  if (!event) return;
  pthread_mutex_lock(&event->mutex);
  event->signalled = true;
  pthread_mutex_unlock(&event->mutex);
  // Auto-reset: only one waiter may consume the signal.
  pthread_cond_signal(&event->condition);
}

bool PlatformEventWait(PlatformEvent* event, int32_t timeoutMs) {
  if (!event) return false;
  timespec deadline = {};
  if (timeoutMs >= 0) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += long(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
  }
  pthread_mutex_lock(&event->mutex);
  // The loop absorbs spurious wake-ups.
  while (!event->signalled) {
    int status = timeoutMs < 0 ? pthread_cond_wait(&event->condition, &event->mutex)
                               : pthread_cond_timedwait(&event->condition, &event->mutex, &deadline);
    if (status == ETIMEDOUT) break;
  }
  bool signalled = event->signalled;
  event->signalled = false;
  pthread_mutex_unlock(&event->mutex);
  return signalled;
}

void PlatformEventDestroy(PlatformEvent* event) {
  if (!event) return;
  pthread_cond_destroy(&event->condition);
  pthread_mutex_destroy(&event->mutex);
  delete event;
}

static void* RunThread(void* argument) {
  PlatformThread* thread = static_cast<PlatformThread*>(argument);
  thread->proc(thread->context);
  return nullptr;
}

PlatformThread* PlatformThreadStart(PlatformThreadProc proc, void* context, size_t stackBytes) {
  if (!proc) return nullptr;
  PlatformThread* thread = new (std::nothrow) PlatformThread;
  if (!thread) return nullptr;
  thread->proc = proc;
  thread->context = context;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete thread;
    return nullptr;
  }
  if (stackBytes > 0) {
    // pthreads refuses stacks below its minimum or not a whole number of pages,
    // where Windows silently rounds up; round up the same way.
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    if (page == 0 || page == size_t(-1)) page = 4096;
    if (stackBytes < size_t(PTHREAD_STACK_MIN)) stackBytes = size_t(PTHREAD_STACK_MIN);
    if (stackBytes <= SIZE_MAX - page) stackBytes = (stackBytes + page - 1) / page * page;
    pthread_attr_setstacksize(&attributes, stackBytes);
  }
  int status = pthread_create(&thread->thread, &attributes, RunThread, thread);
  pthread_attr_destroy(&attributes);
  if (status != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void PlatformThreadJoin(PlatformThread* thread) {
  if (!thread) return;
  pthread_join(thread->thread, nullptr);
  delete thread;
}

int PlatformProcessorCount() {
  // The affinity mask is what this process may actually use (containers, taskset).
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? int(online) : 1;
}

// ---- clocks and diagnostics ---------------------------------------------------------

uint32_t PlatformTickMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

int32_t PlatformCalendarSeconds() { return int32_t(time(nullptr)); }

// A tracer (gdb, strace) shows up as a non-zero TracerPid; that is the closest
// POSIX has to "a debugger is listening".
static bool IsDebuggerAttached() {
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return false;
  char line[256];
  bool attached = false;
  while (fgets(line, sizeof(line), status)) {
    if (strncmp(line, "TracerPid:", 10) == 0) {
      attached = atoi(line + 10) != 0;
      break;
    }
  }
  fclose(status);
  return attached;
}

void PlatformDebugOutput(const char* text) {
  if (!text || !IsDebuggerAttached()) return;
  fputs(text, stderr);
  fflush(stderr);
}

// ---- system memory blocks -----------------------------------------------------------

void* PlatformBlockAlloc(size_t bytes) {
  // A zero-byte request still gets a distinct block, as the Windows side does.
  return calloc(bytes ? bytes : 1, 1);
}

void PlatformBlockFree(void* block) { free(block); }

// ---- files and folders --------------------------------------------------------------

struct PlatformFile {
  int descriptor;
};

PlatformFile* PlatformFileOpen(const char* path, PlatformFileMode mode) {
  if (!path || !*path) return nullptr;
  int flags = O_CLOEXEC;
  switch (mode) {
    case kFileRead: flags |= O_RDONLY; break;
    case kFileWriteTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case kFileReadWrite: flags |= O_RDWR | O_CREAT; break;
    default: return nullptr;
  }
  int descriptor;
  do {
    descriptor = open(path, flags, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return nullptr;
  // open() succeeds on folders for reading; a folder is not a file here.
  struct stat info;
  if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(descriptor);
    return nullptr;
  }
  PlatformFile* file = new (std::nothrow) PlatformFile;
  if (!file) {
    close(descriptor);
    return nullptr;
  }
  file->descriptor = descriptor;
  return file;
}

int64_t PlatformFileRead(PlatformFile* file, void* buffer, size_t bytes) {
  if (!file || (!buffer && bytes)) return -1;
  // read() may return less than asked before the end; keep going until the end.
  char* at = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < bytes) {
    size_t chunk = bytes - done;
    if (chunk > size_t(1) << 30) chunk = size_t(1) << 30;
    ssize_t got = read(file->descriptor, at + done, chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += size_t(got);
  }
  return int64_t(done);
}

int64_t PlatformFileWrite(PlatformFile* file, const void* buffer, size_t bytes) {
  if (!file || (!buffer && bytes)) return -1;
  const char* at = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < bytes) {
    size_t chunk = bytes - done;
    if (chunk > size_t(1) << 30) chunk = size_t(1) << 30;
    ssize_t put = write(file->descriptor, at + done, chunk);
    if (put < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (put == 0) break;  // a full disk; report what was written
    done += size_t(put);
  }
  return int64_t(done);
}

bool PlatformFileSeek(PlatformFile* file, int64_t offset) {
  if (!file || offset < 0) return false;
  return lseek(file->descriptor, off_t(offset), SEEK_SET) == off_t(offset);
}

int64_t PlatformFileSize(PlatformFile* file) {
  if (!file) return -1;
  struct stat info;
  if (fstat(file->descriptor, &info) != 0) return -1;
  return int64_t(info.st_size);
}

bool PlatformFileSetEnd(PlatformFile* file) {
  if (!file) return false;
  off_t position = lseek(file->descriptor, 0, SEEK_CUR);
  if (position < 0) return false;
  return ftruncate(file->descriptor, position) == 0;
}

void PlatformFileClose(PlatformFile* file) {
  if (!file) return;
  close(file->descriptor);
  delete file;
}

bool PlatformFileExists(const char* path) {
  if (!path || !*path) return false;
  struct stat info;
  return stat(path, &info) == 0;
}

bool PlatformFileIsReadOnly(const char* path) {
  if (!path || !*path) return false;
  struct stat info;
  if (stat(path, &info) != 0) return false;
  // The owner's write bit plays the part of the Windows read-only attribute;
  // access(W_OK) would say "writable" for root whatever the bits.
  return (info.st_mode & S_IWUSR) == 0;
}

bool PlatformFileDelete(const char* path) {
  if (!path || !*path) return false;
  return unlink(path) == 0;
}

bool PlatformFileMove(const char* from, const char* to) {
  if (!from || !*from || !to || !*to) return false;
  return rename(from, to) == 0;  // rename replaces an existing target atomically
}

bool PlatformFolderCreate(const char* path) {
  if (!path || !*path) return false;
  if (mkdir(path, 0777) == 0) return true;
  // A folder that is already there is what the caller wanted.
  struct stat info;
  return errno == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool PlatformFolderList(const char* folder, PlatformFolderVisitor visit, void* context) {
  if (!folder || !*folder || !visit) return false;
  DIR* directory = opendir(folder);
  if (!directory) return false;
  std::string prefix = folder;
  if (prefix.back() != '/') prefix += '/';
  while (dirent* entry = readdir(directory)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    bool isFolder = entry->d_type == DT_DIR;
    // Some file systems do not fill in the type; and a link to a folder is
    // listed as a folder, as Windows lists a junction.
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info;
      isFolder = stat((prefix + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (!visit(name, isFolder, context)) break;
  }
  closedir(directory);
  return true;
}

size_t PlatformTempFolder(char* out, size_t capacity) {
  if (!out || capacity == 0) return 0;
  std::string folder = "/tmp/";
  const char* fromEnvironment = getenv("TMPDIR");
  if (fromEnvironment && *fromEnvironment) {
    folder = fromEnvironment;
    if (folder.back() != '/') folder += '/';
  }
  // A folder that does not fit is not cut short: a truncated path names another folder.
  if (folder.size() + 1 > capacity) {
    out[0] = '\0';
    return 0;
  }
  memcpy(out, folder.c_str(), folder.size() + 1);
  return folder.size();
}

char PlatformPathSeparator() { return '/'; }
