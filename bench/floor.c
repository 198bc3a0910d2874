/* The least a CGI program can do for one answer: write the answer's bytes,
   held as a constant, and exit. The benchmark measures the board program
   against this. Built once per answer with:
     -DANSWER_H="file"   a header from xxd -i holding `answer` and `answer_len`
     -DLISTED='"a","b"'  files to read through once first (listing pages)
     -DCOMMANDS='"c"'    commands to run through /bin/sh and drain first
     -DCONFIGURE="path"  a program to become while a child answers (saves) */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include ANSWER_H

int main(void) {
  char buf[4096];
#ifdef LISTED
  const char *const listed[] = {LISTED};
  for (size_t i = 0; i < sizeof listed / sizeof listed[0]; ++i) {
    int fd = open(listed[i], O_RDONLY);
    if (fd >= 0) {
      while (read(fd, buf, sizeof buf) > 0) {
      }
      close(fd);
    }
  }
#endif
#ifdef COMMANDS
  const char *const commands[] = {COMMANDS};
  for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
    FILE *p = popen(commands[i], "r");
    if (p != NULL) {
      while (fread(buf, 1, sizeof buf, p) > 0) {
      }
      pclose(p);
    }
  }
#endif
#ifdef CONFIGURE
  pid_t pid = fork();
  if (pid > 0) {
    char *const argv[] = {(char *)CONFIGURE, NULL};
    char *const envp[] = {NULL};
    execve(CONFIGURE, argv, envp);
  }
#endif
  (void)buf;
  fwrite(answer, 1, answer_len, stdout);
  fflush(stdout);
  return 0;
}
