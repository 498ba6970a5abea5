// UrlDecode with the UTF-8 to code page 936 step, as the request worker runs it on every message.
// Run: text_bench [--benchmark_filter=...]; the figure to read is bytes_per_second (input bytes).
#include <benchmark/benchmark.h>

#include <string>

#include "text/url_decode.h"

namespace {

// Mostly ASCII, as a client that sends Latin text writes it: words, "+", an escaped blank now and
// then.
std::string AsciiHeavy(std::size_t size) {
  const std::string piece = "message+from%20client_42/status=ok&value=3.14159;";
  std::string text;
  while (text.size() < size) text += piece;
  text.resize(size);
  return text;
}

// ASCII words between percent-encoded CJK characters and a euro sign, as a browser sends Chinese
// text.
std::string MixedCjk(std::size_t size) {
  const std::string piece =
      "%E4%BD%A0%E5%A5%BD%EF%BC%8C%E4%B8%96%E7%95%8C id=7 %E2%82%AC5 "
      "%E6%B6%88%E6%81%AF%E5%86%85%E5%AE%B9 ok ";
  std::string text;
  while (text.size() < size) text += piece;
  text.resize(size);
  return text;
}

void Run(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    std::string decoded = quillmere::UrlDecode(input, quillmere::DecodeAs::kUtf8ToGbk);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}

void BM_UrlDecodeToGbk_AsciiHeavy(benchmark::State& state) {
  Run(state, AsciiHeavy(static_cast<std::size_t>(state.range(0))));
}

void BM_UrlDecodeToGbk_MixedCjk(benchmark::State& state) {
  Run(state, MixedCjk(static_cast<std::size_t>(state.range(0))));
}

BENCHMARK(BM_UrlDecodeToGbk_AsciiHeavy)->Arg(1 << 10)->Arg(1 << 20);
BENCHMARK(BM_UrlDecodeToGbk_MixedCjk)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace
