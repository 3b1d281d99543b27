// Tracked memory: every dynamic block of the runtime comes from here. Each
// block carries a header linking it into the list of live blocks, so the
// runtime always knows how many bytes it holds (the collector's threshold keys
// on it), can free everything at teardown, and can report a mismatch.
// Exhaustion never returns to the caller: it is fatal error 5304.
#pragma once
#include <cstdint>

namespace xb {

void* memAlloc(uint32_t size);
void* memAllocZero(uint32_t size);
void* memRealloc(void* p, uint32_t size);
void memFree(void* p);
// The size a block was last allocated or reallocated with.
uint32_t memBlockSize(const void* p);
int32_t memInUse();
int32_t memPeak();
// Counts bytes held outside the tracked blocks (the object pools' cells) as
// in use (delta > 0) or no longer in use (delta < 0).
void memAccount(int32_t delta);

// Frees every live block, destroys the heap and reports "Bytes sin liberar"
// when the counter and the list disagree (only once the class system ran).
uint32_t memTeardown(uint32_t code);

// Hooks the teardown uses; set by the layers that own them.
extern void (*&memReleaseItemAreas)();  // frees the evaluation stack and static area
extern bool (*&memClassSystemStarted)();
extern void (*&memReportLine)(const char* text);  // error output

// What to do when an allocation fails: fatal error 5304 (its line on the
// error output, then exit code 1).
extern void (*&memExhausted)();

// Idle tasks: functions run between statements (mask 0x2000) and at other
// idle points.
using IdleTask = void (*)();
uint16_t registerIdleTask(IdleTask task, uint16_t mask);
void dispatchIdleTasks(uint16_t mask);
void freeIdleTasks();

}  // namespace xb
