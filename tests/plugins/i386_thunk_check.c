/* Runs the stub's i386 call thunk (its instructions taken from
 * src/plugins/win32/call_thunk.cpp by i386_thunk_check.sh) as a 32-bit Linux
 * program: stdcall and cdecl targets with 0 to 15 parameters must all get
 * their arguments in order and leave the caller's stack pointer where it was. */
#include <stdint.h>
#include <stdio.h>

int32_t zulCallPluginExport(const void* proc, const uint32_t* slots);

__attribute__((stdcall)) int std0(void) { return 7; }
__attribute__((stdcall)) int std2(int a, int b) { return a * 100 + b; }
__attribute__((cdecl)) int cdecl3(int a, int b, int c) { return a * 10000 + b * 100 + c; }
__attribute__((stdcall)) int std15(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10,
                                   int a11, int a12, int a13, int a14, int a15) {
  const int a[15] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  for (int i = 0; i < 15; ++i)
    if (a[i] != i + 1) return -(i + 1);
  return 15;
}
__attribute__((cdecl)) int cdecl15(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10,
                                   int a11, int a12, int a13, int a14, int a15) {
  return std15(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15);
}

static uint32_t stackPointer(void) {
  uint32_t v;
  __asm__ volatile("movl %%esp, %0" : "=r"(v));
  return v;
}

int main(void) {
  uint32_t counting[15];
  for (int i = 0; i < 15; ++i) counting[i] = (uint32_t)(i + 1);
  const uint32_t sevenMinusFive[15] = {7, (uint32_t)-5};
  const uint32_t before = stackPointer();
  int wrong = 0;
  /* Many rounds: a stack that drifts by even 4 bytes per call would run
   * out or show in the comparison below. */
  for (int n = 0; n < 100000; ++n) {
    wrong |= zulCallPluginExport((const void*)std0, counting) != 7;
    wrong |= zulCallPluginExport((const void*)std2, sevenMinusFive) != 695;
    wrong |= zulCallPluginExport((const void*)cdecl3, counting) != 10203;
    wrong |= zulCallPluginExport((const void*)std15, counting) != 15;
    wrong |= zulCallPluginExport((const void*)cdecl15, counting) != 15;
  }
  const uint32_t after = stackPointer();
  printf("results %s, stack pointer %s\n", wrong ? "wrong" : "right", before == after ? "kept" : "moved");
  return wrong || before != after;
}
