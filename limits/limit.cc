// The per-second line limit.
#include "limits/limit.h"

uint32_t limitFlush(lineLimit* l, uint32_t tick) {
  // Unsigned difference: right across the wrap of the tick.
  if (!l->running || tick - l->start < kLimitSecondMs) return 0;
  uint32_t held = l->held;
  *l = lineLimit();
  return held;
}

int limitLine(lineLimit* l, uint32_t tick, uint32_t* ended) {
  *ended = limitFlush(l, tick);
  if (!l->running) {
    l->running = 1;
    l->start = tick;
  }
  if (l->shown < kLinesPerSecond) {
    l->shown++;
    return 1;
  }
  l->held++;
  return 0;
}
