/* flock FD: takes an exclusive lock on the open file of descriptor FD and
 * waits for as long as another process holds it, as util-linux's `flock FD`
 * does; the board's busybox has none. The lock belongs to the open file, so
 * it stays with the shell that opened FD after this exits, and the kernel
 * lets it go only when every process holding FD is gone: a live holder
 * keeps it however long it takes, a dead one cannot. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>

int main(int argc, char **argv) {
  char *end = NULL;
  long fd = 0;

  if (argc == 2)
    fd = strtol(argv[1], &end, 10);
  if (argc != 2 || end == argv[1] || *end != '\0' || fd < 0 || fd > 1023) {
    fputs("usage: flock FD\n", stderr);
    return 64;
  }
  while (flock((int)fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      perror("flock");
      return 1;
    }
  }
  return 0;
}
