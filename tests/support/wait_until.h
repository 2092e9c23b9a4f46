#pragma once

#include <chrono>
#include <functional>

// Runs the event loop until `done` holds or `limit` has passed; whether `done` held.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
