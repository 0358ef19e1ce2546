#pragma once
// The slot factories, made in start-up's order. The registry keeps the order in which
// factories are first made, which is the order it asks them in; the tests that need
// factories make them all through here, whichever test runs first.

void MakeSlotFactories();
