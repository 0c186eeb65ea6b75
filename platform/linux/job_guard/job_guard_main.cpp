// talvek-job-guard: keeps a job from outliving the shell.
//
// The shell starts it as the leader of a new process group and then starts
// the job's process inside that group. Its standard input is a pipe whose
// only write end lives in the shell. When the shell ends, however it ends,
// the kernel closes that end; the guard reads end of input and kills its
// whole group, itself included. Bytes written to the pipe are ignored. The
// signals a terminal or a session sends are ignored too; only SIGKILL (the
// job's terminate) ends the guard early.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

int main() {
  const int ignored[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2, SIGTSTP, SIGTTIN, SIGTTOU};
  for (int signal : ignored) ::signal(signal, SIG_IGN);
  char byte;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;  // end of input or a broken pipe: the shell is gone
  }
  kill(0, SIGKILL);
  return 0;
}
