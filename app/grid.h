// A table of counts kept per server and per rule (alerts, triggers), one
// row of `stride` cells a server, grown as servers and rules come: rows
// doubled for a server past the last, every row widened when rules were
// added since. The cells start zero; those there keep their values.
#ifndef QZUCON_APP_GRID_H_
#define QZUCON_APP_GRID_H_

#include <cstring>

#include "runtime/mem.h"

// Room in *grid (rows of *stride cells, *rows of them) for row `row` with
// `width` cells a row. False when memory is out: the grid is then as it was.
template <typename cell>
bool growGrid(cell** grid, int* rows, int* stride, int row, int width, const char* tag) {
  if (row < 0) return false;
  if (row < *rows && width <= *stride) return true;
  int n = *rows;
  if (n <= row) n = 2 * n > row ? 2 * n : row + 1;
  size_t cells = static_cast<size_t>(n) * width;
  cell* bigger = static_cast<cell*>(trAlloc(cells * sizeof(cell), tag));
  if (bigger == nullptr) return false;
  memset(static_cast<void*>(bigger), 0, cells * sizeof(cell));
  for (int r = 0; r < *rows; r++) {
    memcpy(static_cast<void*>(bigger + static_cast<size_t>(r) * width),
           *grid + static_cast<size_t>(r) * *stride, static_cast<size_t>(*stride) * sizeof(cell));
  }
  trFree(*grid, tag);
  *grid = bigger;
  *rows = n;
  *stride = width;
  return true;
}

#endif  // QZUCON_APP_GRID_H_
