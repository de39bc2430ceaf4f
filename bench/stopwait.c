/* The plainest client of the controller there is, as the yardstick for the program's link:
 * blocking POSIX reads and writes on a raw 9600 8N1 terminal, one byte out, one "o" in.
 *
 *   stopwait DEVICE IMAGE RUNS
 *
 * Shakes hands as the program does, then runs RUNS writes of IMAGE (4123 bytes, then the zero
 * byte) and RUNS reads. One line per transfer on standard output:
 *   write SECONDS CPU_SECONDS REPLY      from "SAVE" to the confirmation line
 *   read SECONDS CPU_SECONDS same|differs  from "LOAD" to the last image byte
 * Exit status 1 with a reason on standard error on any failure. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { kImage = 4123 };
static int fd;

static double now(clockid_t clock) {
  struct timespec ts;
  clock_gettime(clock, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void fail(const char *what) {
  fprintf(stderr, "stopwait: %s\n", what);
  exit(1);
}

/* Blocks for one byte; the terminal's own timer (VTIME) ends a silence of five seconds. */
static int getByte(void) {
  unsigned char c;
  if (read(fd, &c, 1) != 1) fail("no reply");
  return c;
}

static void put(const void *data, size_t n) {
  if (write(fd, data, n) != (ssize_t)n) fail("write failed");
}

/* One line, CR LF included, cut at 255 characters. */
static const char *getLine(void) {
  static char line[256];
  size_t n = 0;
  for (;;) {
    const int c = getByte();
    if (n < sizeof line - 1) line[n++] = (char)c;
    if (c == '\n' && n >= 2 && line[n - 2] == '\r') break;
  }
  line[n] = '\0';
  return line;
}

static void waitLine(const char *prefix) {
  while (strncmp(getLine(), prefix, strlen(prefix)) != 0) {
  }
}

int main(int argc, char **argv) {
  if (argc != 4) fail("usage: stopwait DEVICE IMAGE RUNS");
  unsigned char image[kImage + 1] = {0}, back[kImage];
  FILE *f = fopen(argv[2], "rb");
  if (!f || fread(image, 1, kImage, f) != kImage) fail("cannot read the image");
  fclose(f);
  const int runs = atoi(argv[3]);

  fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  struct termios tio;
  if (fd < 0 || tcgetattr(fd, &tio) != 0) fail("cannot open the terminal");
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 50;
  if (tcsetattr(fd, TCSANOW, &tio) != 0 || fcntl(fd, F_SETFL, 0) != 0)
    fail("cannot set the terminal up");
  tcflush(fd, TCIFLUSH);

  put("BYE\r\n", 5);
  waitLine("ATI\r\n");
  put("PC\r\n", 4);
  waitLine("Ver.");
  put("PC_OK\r\n", 7);
  usleep(100000);
  tcflush(fd, TCIFLUSH);

  for (int r = 0; r < runs; ++r) {
    const double c0 = now(CLOCK_PROCESS_CPUTIME_ID), t0 = now(CLOCK_MONOTONIC);
    put("SAVE\r\n", 6);
    waitLine("SAVE\r\n");
    put(image, 1);
    for (int i = 1; i <= kImage; ++i) {
      if (getByte() != 'o') fail("no acknowledgement");
      put(image + i, 1);
    }
    const char *reply = getLine();
    const double t1 = now(CLOCK_MONOTONIC), c1 = now(CLOCK_PROCESS_CPUTIME_ID);
    printf("write %.6f %.6f %.*s\n", t1 - t0, c1 - c0, (int)strcspn(reply, "\r\n"), reply);
    fflush(stdout);
    usleep(100000);
  }
  for (int r = 0; r < runs; ++r) {
    const double c0 = now(CLOCK_PROCESS_CPUTIME_ID), t0 = now(CLOCK_MONOTONIC);
    put("LOAD\r\n", 6);
    waitLine("LOAD\r\n");
    for (int i = 0; i < kImage; ++i) back[i] = (unsigned char)getByte();
    const double t1 = now(CLOCK_MONOTONIC), c1 = now(CLOCK_PROCESS_CPUTIME_ID);
    waitLine("LOAD_OK\r\n");
    printf("read %.6f %.6f %s\n", t1 - t0, c1 - c0, memcmp(back, image, kImage) ? "differs" : "same");
    fflush(stdout);
    usleep(100000);
  }
  put("BYE\r\n", 5);
  return 0;
}
