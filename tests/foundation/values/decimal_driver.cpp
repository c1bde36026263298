// Batch driver for decimal_oracle.py: reads one case per line on stdin and
// prints one result line per case, so that one process answers every case.
//
// Doubles travel as C99 hexadecimal floats (exact both ways); texts to parse
// travel hex-encoded; produced texts are printed after a "|" so that an empty
// text is visible. A raised ZorEBasic prints "E" and its error number.
//
//   cfg <decimalSeps> <thousandsSeps> <moneyType> <euroRate>   (separators hex, "-" for none)
//   round <type> <mode> <x>            ZorRoundDouble
//   roundto <type> <mode> <x> <step>   ZorRoundTo
//   cmp <type> <mode> <x> <y>          decimal::Cmp
//   op <name> <type> <a> <b>           a typed operation on a with b
//   kernel <type> <x>                  ToKernel
//   str <type> <x>                     ToStr(dst, type)
//   strx <type> <showZero> <th> <dec> <x>
//   parse <form c|k|x> <type> <sign> <th> <dec> <hextext>
#include <zorvane/zorvane.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

using namespace zorvane;

namespace {

double ReadDouble(std::istream& in) {
  std::string token;
  in >> token;
  return std::strtod(token.c_str(), nullptr);
}

void PrintDouble(double v) {
  if (std::isnan(v)) {
    std::printf("nan\n");
  } else {
    std::printf("%a\n", v);
  }
}

std::string Unhex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return out;
}

void Configure(std::istream& in) {
  std::string decimals, thousands;
  int money = 2;
  in >> decimals >> thousands >> money;
  ZorDocConfig config = ZorGetDocConfig();
  std::memset(config.decimalSeps, 0, sizeof(config.decimalSeps));
  std::memset(config.thousandsSeps, 0, sizeof(config.thousandsSeps));
  const std::string d = Unhex(decimals), t = Unhex(thousands);
  std::memcpy(config.decimalSeps, d.data(), std::min<size_t>(d.size(), 3));
  std::memcpy(config.thousandsSeps, t.data(), std::min<size_t>(t.size(), 2));
  config.moneyType = money;
  config.euroRate = ReadDouble(in);
  ZorSetDocConfig(config);
  std::printf("ok\n");
}

double Operate(const std::string& name, eZorLogType type, double a, double b) {
  decimal x, y;
  x._setDouble(a);
  y._setDouble(b);
  decimal r = x;
  if (name == "add") r.Add(&y, type);
  else if (name == "sub") r.Sub(&y, type);
  else if (name == "mul") r.Mul(&y, type);
  else if (name == "div") r.Div(&y, type, true);
  else if (name == "divq") r.Div(&y, type, false);
  else if (name == "perc") r.Perc(&x, &y, type);
  else if (name == "addperc") r.AddPerc(&y, type, false);
  else if (name == "subperc") r.AddPerc(&y, type, true);
  else if (name == "ttc") r.TTC(&x, &y, type);
  else if (name == "ht") r.HT(&x, &y, type);
  else if (name == "tvaperc") r.TVAPerc(&x, &y, type);
  else if (name == "tvafromht") r.TVAFromHT(&x, &y, type);
  else if (name == "tvafromttc") r.TVAFromTTC(&x, &y, type);
  else if (name == "ratio") r.Ratio(&x, &y, type, true);
  else if (name == "toeuro") r.ToEuro(&x, &y);
  else if (name == "toeurocfg") r.ToEuro(&x);
  else if (name == "tomoney") r.ToMoney(&x, &y);
  else if (name == "plus") r = x + y;
  else if (name == "minus") r = x - y;
  else if (name == "times") r = x * y;
  else if (name == "over") r = x / y;
  else if (name == "roundto") r.RoundTo(y, kZorRoundNearest, type);
  else std::abort();
  return r._getDouble();
}

bool Parse(std::istream& in, decimal* d) {
  std::string form, hex;
  int type = 0, sign = 0, th = 0, dec = 0;
  in >> form >> type >> sign >> th >> dec >> hex;
  const std::string text = Unhex(hex);
  const auto t = static_cast<eZorLogType>(type);
  if (form == "c") return d->Set(text.c_str(), t);
  if (form == "k") return d->SetKernel(text.c_str(), t);
  return d->Set(text.c_str(), t, sign != 0, static_cast<char>(th), static_cast<char>(dec));
}

void RunCase(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  string text;
  if (cmd == "cfg") {
    Configure(in);
  } else if (cmd == "round") {
    int type, mode;
    in >> type >> mode;
    PrintDouble(ZorRoundDouble(ReadDouble(in), static_cast<eZorLogType>(type), static_cast<eZorRound>(mode)));
  } else if (cmd == "roundto") {
    int type, mode;
    in >> type >> mode;
    const double x = ReadDouble(in), step = ReadDouble(in);
    PrintDouble(ZorRoundTo(x, step, static_cast<eZorLogType>(type), static_cast<eZorRound>(mode)));
  } else if (cmd == "cmp") {
    int type, mode;
    in >> type >> mode;
    decimal a;
    a._setDouble(ReadDouble(in));
    std::printf("%d\n", a.Cmp(ReadDouble(in), static_cast<eZorLogType>(type), static_cast<eZorRound>(mode)));
  } else if (cmd == "op") {
    std::string name;
    int type;
    in >> name >> type;
    const double a = ReadDouble(in), b = ReadDouble(in);
    PrintDouble(Operate(name, static_cast<eZorLogType>(type), a, b));
  } else if (cmd == "kernel" || cmd == "str") {
    int type;
    in >> type;
    decimal a;
    a._setDouble(ReadDouble(in));
    const auto t = static_cast<eZorLogType>(type);
    std::printf("|%s\n", cmd == "kernel" ? a.ToKernel(&text, t) : a.ToStr(&text, t));
  } else if (cmd == "strx") {
    int type, show, th, dec;
    in >> type >> show >> th >> dec;
    decimal a;
    a._setDouble(ReadDouble(in));
    std::printf("|%s\n", a.ToStr(&text, static_cast<eZorLogType>(type), show != 0, static_cast<char>(th),
                                 static_cast<char>(dec)));
  } else if (cmd == "parse") {
    decimal d;
    const bool ok = Parse(in, &d);
    std::printf("%d ", ok ? 1 : 0);
    PrintDouble(d._getDouble());
  } else {
    std::printf("?\n");
  }
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    try {
      RunCase(line);
    } catch (const ZorEBasic& e) {
      std::printf("E%d\n", ZorErrNumber(e.GetError()));
    }
  }
  return 0;
}
