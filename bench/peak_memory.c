/* Runs a command and prints its peak resident memory: peak-memory CMD ARGS...
 * The command's output passes through; the last line on stderr reads
 * "peak_kib N". A small C program, so that the child it forks starts with
 * next to nothing resident (the peak of a process forked from a large one,
 * such as the benchmark's Python, would count the parent's pages). */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: peak-memory CMD ARGS...\n");
    return 2;
  }
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) < 0) return 2;
  fprintf(stderr, "peak_kib %ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
