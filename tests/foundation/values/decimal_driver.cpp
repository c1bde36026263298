// Driver of decimal_oracle.py (protocol: tests/support/driver.h). Doubles
// travel as C99 hexadecimal floats, exact both ways; separators and texts to
// parse in hexadecimal; produced texts after a "|" so that an empty one
// shows. Types and rounding modes travel as their numbers; "op" applies the
// operation NAME of kOps to A with B.
#include <cmath>
#include <cstring>
#include <map>

#include "support/driver.h"

using namespace zorvane;
using namespace zorvane::test;

namespace {

std::string Dbl(double v) { return std::isnan(v) ? "nan" : Line("%a", v); }
decimal Dec(const std::string& s) {
  decimal d;
  d._setDouble(Real(s));
  return d;
}
eZorLogType Type(const std::string& s) { return static_cast<eZorLogType>(Int(s)); }
eZorRound Mode(const std::string& s) { return static_cast<eZorRound>(Int(s)); }

void Configure(const Fields& f) {
  ZorDocConfig config = ZorGetDocConfig();
  std::memset(config.decimalSeps, 0, sizeof(config.decimalSeps));
  std::memset(config.thousandsSeps, 0, sizeof(config.thousandsSeps));
  const std::string d = Unhex(f[1]), t = Unhex(f[2]);
  std::memcpy(config.decimalSeps, d.data(), std::min<size_t>(d.size(), 3));
  std::memcpy(config.thousandsSeps, t.data(), std::min<size_t>(t.size(), 2));
  config.moneyType = Int(f[3]);
  config.euroRate = Real(f[4]);
  ZorSetDocConfig(config);
}

using Op = void (*)(decimal& r, decimal& x, decimal& y, eZorLogType t);
const std::map<std::string, Op> kOps = {
    {"add", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.Add(&y, t); }},
    {"sub", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.Sub(&y, t); }},
    {"mul", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.Mul(&y, t); }},
    {"div", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.Div(&y, t, true); }},
    {"divq", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.Div(&y, t, false); }},
    {"perc", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.Perc(&x, &y, t); }},
    {"addperc", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.AddPerc(&y, t, false); }},
    {"subperc", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.AddPerc(&y, t, true); }},
    {"ttc", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.TTC(&x, &y, t); }},
    {"ht", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.HT(&x, &y, t); }},
    {"tvaperc", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.TVAPerc(&x, &y, t); }},
    {"tvafromht", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.TVAFromHT(&x, &y, t); }},
    {"tvafromttc", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.TVAFromTTC(&x, &y, t); }},
    {"ratio", [](decimal& r, decimal& x, decimal& y, eZorLogType t) { r.Ratio(&x, &y, t, true); }},
    {"toeuro", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r.ToEuro(&x, &y); }},
    {"toeurocfg", [](decimal& r, decimal& x, decimal&, eZorLogType) { r.ToEuro(&x); }},
    {"tomoney", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r.ToMoney(&x, &y); }},
    {"plus", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r = x + y; }},
    {"minus", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r = x - y; }},
    {"times", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r = x * y; }},
    {"over", [](decimal& r, decimal& x, decimal& y, eZorLogType) { r = x / y; }},
    {"roundto", [](decimal& r, decimal&, decimal& y, eZorLogType t) { r.RoundTo(y, kZorRoundNearest, t); }},
};

std::string Operate(const Fields& f) {
  decimal x = Dec(f[3]), y = Dec(f[4]), r = x;
  kOps.at(f[1])(r, x, y, Type(f[2]));
  return Dbl(r._getDouble());
}

std::string Parse(const Fields& f) {
  const std::string text = Unhex(f[6]);
  const eZorLogType t = Type(f[2]);
  decimal d;
  const bool ok = f[1] == "c"   ? d.Set(text.c_str(), t)
                  : f[1] == "k" ? d.SetKernel(text.c_str(), t)
                                : d.Set(text.c_str(), t, Int(f[3]) != 0, static_cast<char>(Int(f[4])),
                                        static_cast<char>(Int(f[5])));
  return Line("%d ", ok) + Dbl(d._getDouble());
}

}  // namespace

int main() {
  string text;
  return Serve({
      {"cfg", Configure},
      {"round", [](const Fields& f) { return Dbl(ZorRoundDouble(Real(f[3]), Type(f[1]), Mode(f[2]))); }},
      {"roundto", [](const Fields& f) { return Dbl(ZorRoundTo(Real(f[3]), Real(f[4]), Type(f[1]), Mode(f[2]))); }},
      {"cmp", [](const Fields& f) { return Line("%d", Dec(f[3]).Cmp(Real(f[4]), Type(f[1]), Mode(f[2]))); }},
      {"op", Operate},
      {"kernel", [&](const Fields& f) { return std::string("|") + Dec(f[2]).ToKernel(&text, Type(f[1])); }},
      {"str", [&](const Fields& f) { return std::string("|") + Dec(f[2]).ToStr(&text, Type(f[1])); }},
      {"strx",
       [&](const Fields& f) {
         return std::string("|") + Dec(f[5]).ToStr(&text, Type(f[1]), Int(f[2]) != 0, static_cast<char>(Int(f[3])),
                                                   static_cast<char>(Int(f[4])));
       }},
      {"parse", Parse},
  });
}
