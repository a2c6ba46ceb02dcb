// The processor's vector-register state before a tick or a frame.
//
// On x86 processors with AVX, code that leaves the upper halves of the vector
// registers in use ("dirty": some library routines and interpreters do) makes
// every later instruction of the older SSE encoding, which the simulation's
// arithmetic and the maths library use, wait on those halves. Measured on the
// development machine, that halved the headless runner's ticks per second. One
// vzeroupper instruction, where the processor has it, ends that state.
#pragma once

// Ends a dirty upper vector state; does nothing on processors without AVX.
void clear_upper_vector_state();
