/* The least a CGI program can do for one answer: write the answer's bytes,
   held as a constant, and exit. The benchmark measures the board program
   against this. Built once per answer with:
     -DANSWER_H="file"   a header from xxd -i holding `answer` and `answer_len`
     -DLISTED='"a","b"'  files to read through once first (listing pages)
     -DCOMMANDS='"c"'    commands to run and drain first, started as the
                         program starts them: directly, through a pipe
     -DCONFIGURE="path"  a program to become while a child answers (saves) */
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include ANSWER_H

int main(int argc, char **argv, char **envp) {
  (void)argc;
  (void)argv;
  (void)envp;
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
    int fds[2];
    if (pipe(fds) != 0)
      continue;
    pid_t pid = fork();
    if (pid == 0) {
      char *const args[] = {(char *)commands[i], NULL};
      dup2(fds[1], 1);
      execve(commands[i], args, envp);
      _exit(127);
    }
    close(fds[1]);
    while (read(fds[0], buf, sizeof buf) > 0) {
    }
    close(fds[0]);
    if (pid > 0)
      waitpid(pid, NULL, 0);
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
