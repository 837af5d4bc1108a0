#include "standin/stores.h"

namespace standin {

std::array<double, kParameters> restingStore() {
  std::array<double, kParameters> p{};
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(1) = 0.3;     // volume m3
  at(2) = 1000.0;  // density
  at(3) = 4.18;    // kJ/(kg K)
  at(4) = 0.6;     // W/(m K)
  at(5) = 1.5;     // height m
  at(6) = 60.0;    // initial temperature
  at(7) = 100.0;   // max plugs
  at(8) = 30.0;    // min plugs
  at(9) = 0.1;     // min delta T
  at(11) = 20.0;   // reference temperature
  at(12) = 0.2;    // UA bottom W/K
  at(13) = 0.5;
  at(14) = 0.5;
  at(15) = 0.5;
  at(16) = 0.3;  // UA top
  for (int d = 1; d <= 10; ++d) {
    at(21 + 4 * (d - 1)) = -1.0;
    at(22 + 4 * (d - 1)) = -1.0;
  }
  for (int i = 0; i < 10; ++i) at(61 + i) = 0.05 + 0.1 * i;
  for (int z = 0; z < 5; ++z) {
    at(71 + 2 * z) = 0.2 * z;
    at(72 + 2 * z) = 0.2 * (z + 1);
  }
  return p;
}

void makeBusy(std::array<double, kParameters>& p) {
  auto at = [&p](int n) -> double& { return p[static_cast<std::size_t>(n - 1)]; };
  at(21) = 0.02;  // port 1: cold in at the bottom, out at the top
  at(22) = 0.98;
  at(25) = 0.9;  // port 2: hot in near the top, out at 0.1, seeking its layer
  at(26) = 0.1;
  at(28) = 1.0;
  at(85) = 1.0;  // one coil from 0.5 down to 0.1
  const int b = 86;
  at(b + 0) = 0.5;
  at(b + 1) = 0.1;
  at(b + 2) = 0.016;
  at(b + 3) = 0.018;
  at(b + 4) = 12.0;
  at(b + 5) = 380.0;
  at(b + 8) = 3.8;
  at(b + 9) = 1030.0;
  at(b + 10) = 20.0;
  at(200) = 0.8;  // heat input A1
}

void makeSecondStore(std::array<double, kParameters>& p) {
  p[0] = 0.8;   // volume m3
  p[4] = 1.8;   // height m
  p[5] = 50.0;  // initial temperature
}

void storeInputs(double time, bool busy, bool second, std::array<double, kInputs>& in) {
  in[30] = 20.0;  // ambient temperature
  if (!busy) return;
  double hourOfDay = time - 24.0 * static_cast<double>(static_cast<long>(time / 24.0));
  if (second) hourOfDay -= 1.0;
  in[0] = 10.0;  // port 1 cold water
  in[1] = (hourOfDay > 7.0 && hourOfDay <= 7.5) ? (second ? 900.0 : 300.0) : 0.0;  // kg/h
  in[3] = 45.0;                                                                    // port 2 return
  in[4] = (hourOfDay > 12.0 && hourOfDay <= 14.0) ? 200.0 : 0.0;                   // kg/h
  in[31] = 70.0;                                                                   // coil inlet
  in[32] = (hourOfDay > 9.0 && hourOfDay <= 16.0) ? 150.0 : 0.0;                   // kg/h
  in[49] = (hourOfDay > 18.0 && hourOfDay <= 19.0) ? 0.5 : 0.0;                    // kW
}

}  // namespace standin
