// Test allocator for the engine (linked instead of masking/memory.cpp): it
// counts requests and live blocks, and can fail one chosen request.
#pragma once

// Makes the n-th request from now fail (1-based); 0 fails none.
void FailAllocationAfter(long requests);
// Requests since the last FailAllocationAfter call.
long AllocationRequests();
// Blocks handed out and not yet released.
long LiveBlocks();
// While paused, requests are served without being counted or failed, so that
// a check made midway (a region's self-check) does not take the failure
// meant for the code under test.
void PauseAllocationFailures(bool paused);
