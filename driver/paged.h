// Routines that only ever run at PASSIVE_LEVEL go to the pageable section;
// each of them starts with PAGED_CODE(). Never use this on anything the stop
// timer's deferred routine can reach: that one runs at DISPATCH_LEVEL.
#pragma once

#define TONE_PAGED __attribute__((section("PAGE")))
