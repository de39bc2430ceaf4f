/* LD_PRELOAD shim for Wine 8.0 (x86-64) test runs: a pseudo-terminal mapped as a COM port
 * (HKLM\Software\Wine\Ports) then serves a Windows program as a real UART would, QSerialPort
 * included, which reads only once an overlapped WaitCommEvent(EV_RXCHAR) has completed on its I/O
 * completion port. Real serial devices of the machine are refused. Test equipment only.
 *
 * TIOCMGET on a pty: Wine reads the modem lines when WaitCommEvent starts and on every 1 ms poll
 *   of its waiting thread, and ends the wait at once, with no event, when that fails. A pty has
 *   no modem lines (ENOTTY), so no wait would last. Answer: CTS, DSR and CD on (a powered device
 *   on the line) and DTR/RTS as last set; lines that never change raise no modem events.
 * TIOCMSET, TIOCMBIS, TIOCMBIC on a pty: DTR/RTS switching (SetCommState, EscapeCommFunction),
 *   which a pty refuses and a UART obeys; they succeed and are remembered for TIOCMGET.
 * TIOCGICOUNT and TIOCSERGETLSR: a pty refuses them too, but Wine copes (zero counters, TIOCOUTQ
 *   instead), so they are left alone.
 *
 * The completion packet: Wine 8.0 ends a WaitCommEvent by writing the OVERLAPPED and setting its
 *   event only. It never queues a packet to the completion port the handle is bound to, and with
 *   a NULL OVERLAPPED.hEvent it blocks the caller until a character comes. QSerialPort uses a
 *   completion port and a NULL hEvent: it stalls in WaitCommEvent, then waits for a packet that
 *   never comes, and reads nothing. That is no matter of the tty: a real UART fares the same.
 *   ntdll.so binds its own symbols, so when the loader opens ntdll.so the shim points the
 *   NtDeviceIoControlFile slot of its system call table at a wrapper. An overlapped
 *   IOCTL_SERIAL_WAIT_ON_MASK with a completion value (no APC) runs Wine's own wait on a private
 *   event; when that fires, a helper thread fills in the caller's mask and OVERLAPPED, sets its
 *   event and queues the packet by a zero-byte read with the same OVERLAPPED as completion value
 *   (Wine queues a packet for every read that completes at once). That packet counts 0 bytes
 *   where Windows counts 4; a wait ended by SetCommMask or CloseHandle queues nothing. All other
 *   calls pass through.
 *
 * open() of /dev/ttyS*, ttyUSB*, ttyACM* fails with EACCES: Wine maps the machine's serial
 *   devices as COM1... by itself, and a program that searches its ports (the configurator does)
 *   would open them. The wineserver opens files for CreateFile, so it must run with the shim too.
 *
 * Build: gcc -shared -fPIC -O2 -o libcomport_shim.so comport_shim.c -ldl
 * Use:   LD_PRELOAD=/path/libcomport_shim.so for every wine command, wineserver started by one.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

/* ---- modem lines of a pty ------------------------------------------------------------- */

static int is_pty(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  unsigned maj = major(st.st_rdev);
  return maj >= 136 && maj <= 143;   /* Unix98 pty slaves */
}

static int out_lines = TIOCM_DTR | TIOCM_RTS;   /* a UART's state after open */

int ioctl(int fd, unsigned long request, ...) {
  static int (*real_ioctl)(int, unsigned long, ...);
  if (!real_ioctl) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);

  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
      is_pty(fd)) {
    int *lines = arg;
    const int settable = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
      case TIOCMGET: *lines = out_lines | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR; break;
      case TIOCMSET: out_lines = *lines & settable; break;
      case TIOCMBIS: out_lines |= *lines & settable; break;
      case TIOCMBIC: out_lines &= ~(*lines & settable); break;
    }
    return 0;
  }
  return real_ioctl(fd, request, arg);
}

/* ---- no real serial devices ---------------------------------------------------------- */

static int is_serial_device(const char *path) {
  struct stat st;
  if (!path || stat(path, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
  return (maj == 4 && min >= 64) || maj == 188 || maj == 166;   /* ttyS, ttyUSB, ttyACM */
}

static int guarded_open(const char *path, int flags, va_list ap) {
  static int (*real_open)(const char *, int, ...);
  if (!real_open) real_open = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
  if (is_serial_device(path)) {
    errno = EACCES;
    return -1;
  }
  return real_open(path, flags, mode);
}

int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int fd = guarded_open(path, flags, ap);
  va_end(ap);
  return fd;
}

int open64(const char *path, int flags, ...) __attribute__((alias("open")));

/* ---- WaitCommEvent completion ---------------------------------------------------------- */

#define NTAPI __attribute__((ms_abi))
typedef int32_t NTSTATUS;
typedef void *HANDLE;
typedef struct {
  union { NTSTATUS Status; void *Pointer; };
  uintptr_t Information;
} IO_STATUS_BLOCK;

#define STATUS_SUCCESS 0
#define STATUS_PENDING 0x103
#define IOCTL_SERIAL_WAIT_ON_MASK 0x1b0048u
#define CURRENT_PROCESS ((HANDLE)~(uintptr_t)0)

typedef NTSTATUS NTAPI ioctl_file_fn(HANDLE, HANDLE, void *, void *, IO_STATUS_BLOCK *, uint32_t,
                                     void *, uint32_t, void *, uint32_t);
static ioctl_file_fn *real_NtDeviceIoControlFile;
static NTSTATUS(NTAPI *p_NtCreateEvent)(HANDLE *, uint32_t, void *, int, uint8_t);
static NTSTATUS(NTAPI *p_NtSetEvent)(HANDLE, int32_t *);
static NTSTATUS(NTAPI *p_NtResetEvent)(HANDLE, int32_t *);
static NTSTATUS(NTAPI *p_NtWaitForSingleObject)(HANDLE, uint8_t, void *);
static NTSTATUS(NTAPI *p_NtClose)(HANDLE);
static NTSTATUS(NTAPI *p_NtDuplicateObject)(HANDLE, HANDLE, HANDLE, HANDLE *, uint32_t, uint32_t,
                                            uint32_t);
static NTSTATUS(NTAPI *p_NtCreateThreadEx)(HANDLE *, uint32_t, void *, HANDLE, void *, void *,
                                           uint32_t, uintptr_t, size_t, size_t, void *);
static NTSTATUS(NTAPI *p_NtQueryInformationFile)(HANDLE, IO_STATUS_BLOCK *, void *, uint32_t,
                                                 uint32_t);
static NTSTATUS(NTAPI *p_NtReadFile)(HANDLE, HANDLE, void *, void *, IO_STATUS_BLOCK *, void *,
                                     uint32_t, void *, uint32_t *);

struct wait {
  HANDLE file;         /* the caller's handle, or our duplicate while a helper finishes */
  HANDLE done;         /* private event Wine sets when its wait ends */
  HANDLE user_event;   /* OVERLAPPED.hEvent */
  void *cvalue;        /* completion value: the caller's OVERLAPPED */
  IO_STATUS_BLOCK *io; /* the caller's OVERLAPPED as status block */
  uint32_t *mask_out;
  IO_STATUS_BLOCK iosb;
  uint32_t mask;
};

/* Wine's wait thread can end and set the event before the thread that started the wait has
   written STATUS_PENDING into the status block, so the status is read off the mask: Wine ends a
   wait with events as success, one without (mask changed, handle closed) as cancelled. */
static NTSTATUS finish(struct wait *w) {
  const NTSTATUS status = w->mask ? STATUS_SUCCESS : (NTSTATUS)0xc0000120 /* STATUS_CANCELLED */;
  *w->mask_out = w->mask;
  w->io->Information = w->mask ? sizeof w->mask : 0;
  __atomic_store_n(&w->io->Status, status, __ATOMIC_RELEASE);
  if (w->user_event) p_NtSetEvent(w->user_event, NULL);
  if (status == STATUS_SUCCESS) {
    IO_STATUS_BLOCK ignored;
    int64_t offset = 0;   /* an overlapped read of a serial port must give one */
    char none;
    p_NtReadFile(w->file, NULL, NULL, w->cvalue, &ignored, &none, 0, &offset, NULL);
  }
  return status;
}

/* Helper threads are kept for the next wait: starting one per wait cost more than the rest
   of a byte's round trip. */
struct helper {
  HANDLE wake;   /* set when job holds a wait to finish */
  struct wait *job;
  struct helper *next;
};
static pthread_mutex_t idle_lock = PTHREAD_MUTEX_INITIALIZER;
static struct helper *idle;

static NTAPI __attribute__((force_align_arg_pointer)) void helper_main(void *arg) {
  struct helper *h = arg;
  for (;;) {
    p_NtWaitForSingleObject(h->wake, 0, NULL);
    struct wait *w = h->job;
    p_NtWaitForSingleObject(w->done, 0, NULL);
    finish(w);
    p_NtClose(w->file);
    p_NtClose(w->done);
    free(w);
    pthread_mutex_lock(&idle_lock);
    h->next = idle;
    idle = h;
    pthread_mutex_unlock(&idle_lock);
  }
}

static int finish_later(struct wait *w) {
  pthread_mutex_lock(&idle_lock);
  struct helper *h = idle;
  if (h) idle = h->next;
  pthread_mutex_unlock(&idle_lock);
  if (!h) {
    HANDLE thread;
    if (!(h = calloc(1, sizeof *h))) return 0;
    if (p_NtCreateEvent(&h->wake, 0x1f0003, NULL, 1 /* SynchronizationEvent */, 0)) {
      free(h);
      return 0;
    }
    if (p_NtCreateThreadEx(&thread, 0x1fffff /* THREAD_ALL_ACCESS */, NULL, CURRENT_PROCESS,
                           (void *)helper_main, h, 0, 0, 0, 0, NULL)) {
      p_NtClose(h->wake);
      free(h);
      return 0;
    }
    p_NtClose(thread);
  }
  h->job = w;
  p_NtSetEvent(h->wake, NULL);
  return 1;
}

static NTSTATUS NTAPI __attribute__((force_align_arg_pointer))
device_io_control(HANDLE file, HANDLE event, void *apc, void *cvalue, IO_STATUS_BLOCK *io,
                  uint32_t code, void *in, uint32_t in_size, void *out, uint32_t out_size) {
  IO_STATUS_BLOCK query;
  uint32_t mode = 0;
  if (code != IOCTL_SERIAL_WAIT_ON_MASK || apc || !cvalue || !out || out_size != 4 ||
      p_NtQueryInformationFile(file, &query, &mode, sizeof mode, 16 /* FileModeInformation */) ||
      (mode & 0x30 /* FILE_SYNCHRONOUS_IO_*: no completion port, the caller waits */))
    return real_NtDeviceIoControlFile(file, event, apc, cvalue, io, code, in, in_size, out,
                                      out_size);
  struct wait *w = calloc(1, sizeof *w);
  if (!w || p_NtCreateEvent(&w->done, 0x1f0003 /* EVENT_ALL_ACCESS */, NULL, 0, 0)) {
    free(w);
    return real_NtDeviceIoControlFile(file, event, apc, cvalue, io, code, in, in_size, out,
                                      out_size);
  }
  w->file = file;
  w->user_event = event;
  w->cvalue = cvalue;
  w->io = io;
  w->mask_out = out;
  if (event) p_NtResetEvent(event, NULL);
  NTSTATUS status = real_NtDeviceIoControlFile(file, w->done, NULL, NULL, &w->iosb, code, in,
                                               in_size, &w->mask, sizeof w->mask);
  if (status == STATUS_PENDING) {
    /* Our own handle, so the packet goes to this file even if the caller's handle is closed
       and its number reused meanwhile. */
    if (!p_NtDuplicateObject(CURRENT_PROCESS, file, CURRENT_PROCESS, &w->file, 0, 0,
                             2 /* DUPLICATE_SAME_ACCESS */)) {
      if (finish_later(w)) return STATUS_PENDING;
      p_NtClose(w->file);
      w->file = file;
    }
    p_NtWaitForSingleObject(w->done, 0, NULL);   /* no helper: finish here, late but right */
    status = STATUS_SUCCESS;
  }
  if (status == STATUS_SUCCESS) status = finish(w);
  p_NtClose(w->done);
  free(w);
  return status;
}

/* Finds ntdll.so's system call table (it starts NtAcceptConnectPort, NtAccessCheck,
   NtAccessCheckAndAuditAlarm) and points the NtDeviceIoControlFile slot at the wrapper. */
static void patch_syscall_table(void *ntdll) {
#define RESOLVE(p, name) (*(void **)&(p) = dlsym(ntdll, name))
  void *first = dlsym(ntdll, "NtAcceptConnectPort"), *second = dlsym(ntdll, "NtAccessCheck"),
       *third = dlsym(ntdll, "NtAccessCheckAndAuditAlarm"),
       *target = dlsym(ntdll, "NtDeviceIoControlFile");
  if (!RESOLVE(p_NtCreateEvent, "NtCreateEvent") || !RESOLVE(p_NtSetEvent, "NtSetEvent") ||
      !RESOLVE(p_NtResetEvent, "NtResetEvent") ||
      !RESOLVE(p_NtWaitForSingleObject, "NtWaitForSingleObject") ||
      !RESOLVE(p_NtClose, "NtClose") || !RESOLVE(p_NtDuplicateObject, "NtDuplicateObject") ||
      !RESOLVE(p_NtCreateThreadEx, "NtCreateThreadEx") || !RESOLVE(p_NtReadFile, "NtReadFile") ||
      !RESOLVE(p_NtQueryInformationFile, "NtQueryInformationFile") ||
      !first || !second || !third || !target) {
    fprintf(stderr, "comport_shim: ntdll.so lacks an expected export; nothing patched\n");
    return;
  }
  Dl_info info;
  if (!dladdr(target, &info)) return;
  const ElfW(Ehdr) *eh = info.dli_fbase;
  const ElfW(Phdr) *ph = (const void *)((const char *)eh + eh->e_phoff);
  for (int i = 0; i < eh->e_phnum; i++) {
    if (ph[i].p_type != PT_LOAD || (ph[i].p_flags & PF_X)) continue;
    void **p = (void **)((char *)eh + ((ph[i].p_vaddr + 7) & ~(uintptr_t)7));
    void **end = (void **)((char *)eh + ph[i].p_vaddr + ph[i].p_memsz) - 3;
    for (; p < end; p++) {
      if (p[0] != first || p[1] != second || p[2] != third) continue;
      for (void **slot = p; slot < p + 1024 && slot < end + 3; slot++) {
        if (*slot != target) continue;
        uintptr_t page = (uintptr_t)slot & ~(uintptr_t)(sysconf(_SC_PAGESIZE) - 1);
        int prot = PROT_READ | ((ph[i].p_flags & PF_W) ? PROT_WRITE : 0);
        for (int j = 0; j < eh->e_phnum; j++)   /* read-only again after relocation */
          if (ph[j].p_type == PT_GNU_RELRO && (char *)slot >= (char *)eh + ph[j].p_vaddr &&
              (char *)slot < (char *)eh + ph[j].p_vaddr + ph[j].p_memsz)
            prot = PROT_READ;
        if (mprotect((void *)page, (uintptr_t)(slot + 1) - page, PROT_READ | PROT_WRITE)) break;
        real_NtDeviceIoControlFile = (ioctl_file_fn *)target;
        *slot = (void *)device_io_control;
        mprotect((void *)page, (uintptr_t)(slot + 1) - page, prot);
        return;
      }
    }
  }
  fprintf(stderr, "comport_shim: no system call table in ntdll.so; nothing patched\n");
}

void *dlopen(const char *file, int mode) {
  static void *(*real_dlopen)(const char *, int);
  if (!real_dlopen) real_dlopen = (void *(*)(const char *, int))dlsym(RTLD_NEXT, "dlopen");
  void *handle = real_dlopen(file, mode);
  size_t n = file ? strlen(file) : 0;
  if (handle && !real_NtDeviceIoControlFile && n >= 9 && !strcmp(file + n - 9, "/ntdll.so"))
    patch_syscall_table(handle);
  return handle;
}
