#pragma once
// Every operator new of the bench binary is counted (allocation_count.cpp replaces it),
// so that a benchmark can tell how many heap allocations a pass makes.

long allocation_count();
