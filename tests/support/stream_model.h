// One model of a byte stream for every stream test: random reads, writes
// (small, and larger than the window of a cache), seeks from each origin and
// size changes, checked against a string.
#pragma once

#include <zorvane/stream.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zortest {

// Runs the operations on s, which holds `model` at the start; returns what
// it must hold at the end.
inline std::string Exercise(zorvane::iZorStream* s, std::string model, uint32_t seed, uint32_t window) {
  using zorvane::ZorSeekSet;
  std::mt19937 rng(seed);
  uint64_t pos = 0;
  for (int step = 0; step < 2000 && !testing::Test::HasFailure(); ++step) {
    const uint32_t op = rng() % 12;
    if (op < 4) {
      pos = s->Seek(static_cast<int64_t>(rng() % (model.size() + window)), ZorSeekSet);
      std::string data(rng() % 8 == 0 ? window + rng() % window : 1 + rng() % 200, '\0');
      for (char& c : data) c = static_cast<char>(rng());
      s->Write(data.data(), static_cast<uint32_t>(data.size()));
      if (pos + data.size() > model.size()) model.resize(pos + data.size(), '\0');
      model.replace(pos, data.size(), data);
      pos += data.size();
    } else if (op < 8) {
      if (rng() % 2) pos = s->Seek(static_cast<int64_t>(rng() % (model.size() + 10)), ZorSeekSet);
      std::string buf(rng() % 4 == 0 ? window + rng() % 100 : rng() % 300, '\0');
      const uint32_t got = s->Read(buf.data(), static_cast<uint32_t>(buf.size()));
      const size_t expect = pos >= model.size() ? 0 : std::min(buf.size(), model.size() - pos);
      EXPECT_EQ(got, expect) << "step " << step;
      if (got) {
        EXPECT_EQ(buf.substr(0, got), model.substr(pos, got)) << "step " << step;
      }
      pos += got;
    } else if (op == 8) {
      const uint64_t size = rng() % (model.size() + 2 * window);
      s->SetSize(size);
      model.resize(size, '\0');
    } else if (op == 9) {
      const int64_t back = -static_cast<int64_t>(rng() % 50);
      if (static_cast<int64_t>(model.size()) + back < 0) continue;
      pos = model.size() + back;
      EXPECT_EQ(s->Seek(back, zorvane::ZorSeekEnd), pos) << "step " << step;
    } else if (op == 10) {
      const int64_t delta = static_cast<int64_t>(rng() % 100) - 50;
      if (static_cast<int64_t>(pos) + delta < 0) continue;
      pos += delta;
      EXPECT_EQ(s->Seek(delta, zorvane::ZorSeekCur), pos) << "step " << step;
    } else {
      EXPECT_EQ(s->GetSize(), model.size()) << "step " << step;
      if (rng() % 4 == 0) s->Flush();
    }
  }
  return model;
}

}  // namespace zortest
