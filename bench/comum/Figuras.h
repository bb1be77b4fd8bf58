#pragma once
// What every benchmark program shares: one line per figure for bench/run.sh,
// and side-by-side timing of two loops.
//
// A figure line on standard output is
//   @figura <TAB> name <TAB> value <TAB> goal <TAB> ok|NAO|info <TAB> detail
// run.sh gathers these lines from every program into one table and one JSON
// file; any other output of a program goes to its log.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace bench {

enum class Estado { Ok, Nao, Info };

inline void Figura(const std::string& nome, const std::string& valor, const std::string& meta, Estado estado,
                   const std::string& detalhe = "") {
  const char* e = estado == Estado::Ok ? "ok" : estado == Estado::Nao ? "NAO" : "info";
  std::printf("@figura\t%s\t%s\t%s\t%s\t%s\n", nome.c_str(), valor.c_str(), meta.c_str(), e, detalhe.c_str());
  std::fflush(stdout);
}

inline Estado Atende(bool ok) { return ok ? Estado::Ok : Estado::Nao; }

template <typename... Args>
std::string Texto(const char* formato, Args... args) {
  char b[256];
  std::snprintf(b, sizeof b, formato, args...);
  return b;
}

inline double Segundos(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Which time a side by side run compares: wall time, or the processor time
// of the calling thread (user and system), which waiting for the processor on
// a loaded machine does not inflate. Work that waits on a device (fsync, a
// line) needs the wall time.
enum class Tempo { Parede, Processador };

inline double TempoProcessador() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Time of one call of f.
inline double Cronometra(const std::function<void()>& f, Tempo tempo = Tempo::Parede) {
  if (tempo == Tempo::Processador) {
    const double t0 = TempoProcessador();
    f();
    return TempoProcessador() - t0;
  }
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return Segundos(std::chrono::steady_clock::now() - t0);
}

struct Razoes {
  double mediana = 0, minima = 0, maxima = 0, q1 = 0, q3 = 0;
  double medianaA = 0, medianaB = 0;  // seconds per batch of each side
  int rodadas = 0;
};

inline double Quantil(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double pos = q * static_cast<double>(v.size() - 1);
  const size_t i = static_cast<size_t>(pos);
  const double f = pos - static_cast<double>(i);
  return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

// Runs the batches a and b side by side, `rodadas` times (A,B then B,A in
// turn, so that neither always runs first), and gives the median and spread
// of the per-round ratios time(a) / time(b). On a shared machine a burst of
// load hits both sides of a round alike, so the ratio is steadier than
// either time.
inline Razoes Intercala(const std::function<void()>& a, const std::function<void()>& b, int rodadas,
                        Tempo tempo = Tempo::Parede) {
  std::vector<double> razoes, ta, tb;
  for (int i = 0; i < rodadas; ++i) {
    double x, y;
    if (i % 2 == 0) {
      x = Cronometra(a, tempo);
      y = Cronometra(b, tempo);
    } else {
      y = Cronometra(b, tempo);
      x = Cronometra(a, tempo);
    }
    ta.push_back(x);
    tb.push_back(y);
    razoes.push_back(x / y);
  }
  Razoes r;
  r.rodadas = rodadas;
  r.mediana = Quantil(razoes, 0.5);
  r.q1 = Quantil(razoes, 0.25);
  r.q3 = Quantil(razoes, 0.75);
  r.minima = *std::min_element(razoes.begin(), razoes.end());
  r.maxima = *std::max_element(razoes.begin(), razoes.end());
  r.medianaA = Quantil(ta, 0.5);
  r.medianaB = Quantil(tb, 0.5);
  return r;
}

// "q1-q3 (min-max), n rounds" for the detail column.
inline std::string Dispersao(const Razoes& r) {
  return Texto("spread %.3f-%.3f (min %.3f, max %.3f), %d rounds", r.q1, r.q3, r.minima, r.maxima, r.rodadas);
}

}  // namespace bench
