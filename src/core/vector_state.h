#pragma once

namespace auralist {

// Marks the upper halves of the wide (256- and 512-bit) vector registers
// clean. A thread starts with its creator's register state; if that held
// wide values (some library code leaves them so), every plain SSE
// instruction the thread runs afterwards waits on a merge with them, and
// the analysis ran at half its speed. Costs nothing where there is no AVX.
void clearWideVectorState();

} // namespace auralist
