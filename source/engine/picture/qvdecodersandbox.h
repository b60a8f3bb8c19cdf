// qvdecodersandbox: what a decoding child gives up before the first byte of
// its picture reaches a decoder. FreeImage's decoders have known memory
// faults, and a file that exploits one runs its own code in the child; from
// then on that code can do only what a decoding needs: map memory (never
// executable), read and write the segments the child already holds, write
// to the descriptors it holds (standard error, in the sanitizer build, is
// the only one that leads anywhere), start threads, read clocks, signal
// itself and end. It gains no privileges (no set-user-ID program), starts
// no process, opens no file or socket, attaches no segment, reaches no
// other process and lifts none of its limits. As an ordinary user, it
// starts no more than the few threads decoders use.
#pragma once

// Puts the calling process, and every thread it starts, in the decoders'
// sandbox for good: bounded in threads, with no privileges to gain, and
// under the system-call filter where `filtered` (where setting it was found
// to fail, the sandbox holds without it). 0 once it holds; otherwise the
// errno of what failed: no new privileges, the filter library building the
// filter, or the kernel refusing it (one built without seccomp, or a
// launcher's own filter), the process then running on without the filter.
int qvEnterDecoderSandbox(bool filtered);

// Builds the filter once without loading it, in the decoder process before
// it forks a child: the filter library's calls into the C library are bound
// there, and every child finds them bound, where each would look them up
// afresh (a fresh process's first lookup reads the symbol tables of every
// library the program loaded).
void qvBindDecoderSandbox();
