// Placeholder until the washer lands.
#include "main/washer/washer.h"

namespace tovra::washer {
Washer::Washer(WasherView& view) : view_(view) {}
Washer::~Washer() = default;
void Washer::Run() {}
void Washer::IEDefault() {}
}  // namespace tovra::washer
