#pragma once
// The factories start-up makes, made in its order. The registry keeps the order in which
// factories are first made, so every test of this program that needs one makes them all
// through here, whichever test runs first.

namespace test {

void make_start_up_factories();

}  // namespace test
