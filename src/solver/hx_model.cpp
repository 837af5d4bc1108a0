// Immersed heat exchanger: a march along the coil, one control volume (CV)
// at a time, from the inlet node to the outlet node.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "correlations/correlations.h"
#include "solver/solver.h"

namespace plugstore {
namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Heat-transfer capability (W/K) of CV c, whose entering node is j. hWall is
// the wall conductance of the coil, the same for every CV.
double cvUA(State& st, HostServices& host, HxRecord& hx, int c, int j, bool flowing, double aCv,
            double hWall) {
  const int n = hx.numberOfHxCv;
  const double tStore = hx.tStore[at(c)];
  if (hx.uaModel == 1) {
    double ua = hx.uaNominal / n;
    if (std::fabs(hx.expFlow) >= 1e-15 || std::fabs(hx.expDeltaT) >= 1e-15 ||
        std::fabs(hx.expTemp) >= 1e-15) {
      // A resting coil has no inlet temperature: its lowest CV stands in.
      const double tRef = flowing ? hx.tInHx : hx.tCvOld[1];
      const double dT = std::fabs(tRef - tStore);
      const double tMean = std::max((tRef + tStore) / 2.0, 2.0);
      const double m = hx.mDotHx;
      if (dT < 1e-15 && m < 1e-15) {
        ua = ua * std::pow(tMean, hx.expTemp);
      } else if (dT < 1e-15 && m > 1e-15) {
        ua = ua * std::pow(m, hx.expFlow) * std::pow(tMean, hx.expTemp);
      } else if (dT > 1e-15 && m < 1e-15) {
        ua = ua * std::pow(dT, hx.expDeltaT) * std::pow(tMean, hx.expTemp);
      } else {
        ua =
            ua * std::pow(m, hx.expFlow) * std::pow(dT, hx.expDeltaT) * std::pow(tMean, hx.expTemp);
      }
    }
    return ua / 3.6;  // kJ/h to W
  }
  if (hx.uaModel == 0) {
    const int unit = st.store.unit;
    const int type = st.store.type;
    const double tNode = hx.tNode[at(j)];
    const double tFluidMean = (tNode + tStore) / 2.0;
    const double tFilm = std::clamp((tFluidMean + tStore) / 2.0, 2.0, 90.0);
    const double velocity = 4.0 * hx.mDotHx / (hx.rhoHx * std::numbers::pi * (hx.dIn * hx.dIn));
    double hIn = 0.0;
    double re = 0.0;
    double nu = 0.0;
    calculateHeatTransCoefPipeIn(host, tNode, hx.glycolConc, hx.dIn, hx.lengthHx, velocity, hIn, 0,
                                 1.0, unit, type, re, nu);
    double hOut = 0.0;
    double ra = 0.0;
    calculateHeatTransCoefImmersedPlate(host, tFilm, tStore, tFluidMean, hx.dOut, hOut, hx.cUser,
                                        hx.nUser, ra, nu, unit, type);
    const double u = (hIn > 0.0 && hWall > 0.0 && hOut > 0.0)
                         ? 1.0 / (1.0 / hIn + 1.0 / hWall + 1.0 / hOut)
                         : 0.0;
    hx.hInMean += hIn / n;
    hx.hWallMean += hWall / n;
    hx.hOutMean += hOut / n;
    return u * aCv;
  }
  TextLine text;
  text << "Model for UA unknown=" << hx.uaModel;
  fatalStop(st, host, "FATAL", text.view());
}

}  // namespace

bool hxArraysFit(const HxRecord& hx) {
  if (hx.numberOfHxCv < 0) return false;
  const auto cvs = at(hx.numberOfHxCv) + 1;
  const auto nodes = cvs + 1;
  return hx.tStore.size() >= cvs && hx.uaCv.size() >= cvs && hx.qCv.size() >= cvs &&
         hx.tCvOld.size() >= cvs && hx.tWall.size() >= cvs && hx.tWallOld.size() >= cvs &&
         hx.tNode.size() >= nodes && hx.zCv.size() >= nodes;
}

void stepBystep(State& st, HostServices& host, HxRecord& hx, double dt) {
  if (!hxArraysFit(hx)) return;
  const int n = hx.numberOfHxCv;
  const bool check = st.sw.consistencyCheckSwitch == -1;

  // March direction: CV c lies between node c and node c + 1.
  const bool up = hx.flowUp != 0;
  const int first = up ? 1 : n + 1;
  const int step = up ? 1 : -1;
  const int cvOffset = up ? 0 : -1;
  const int last = up ? n + 1 : 1;

  const double cCv = hx.cpHx * hx.rhoHx * hx.volumeHx / dt / n;
  const double aCv = std::numbers::pi * hx.dOut * hx.lengthHx / n;
  const double mcp = hx.mDotHx * hx.cpHx;
  double hWall = 0.0;
  if (hx.uaModel == 0) {
    calculateHeatTransferWall(host, hx.lambdaWall, hx.dIn, hx.dOut, hWall, 1, st.store.unit,
                              st.store.type);
  }

  hx.tNode[at(first)] = hx.tInHx;
  double qUtilSum = 0.0;
  double qAcumSum = 0.0;
  double qLossSum = 0.0;
  double uaSum = 0.0;
  double tStoreMean = 0.0;
  hx.hInMean = 0.0;
  hx.hOutMean = 0.0;
  hx.hWallMean = 0.0;

  if (hx.mDotHx >= kMDotMin) {
    for (int s = 0; s < n; ++s) {
      const int j = first + s * step;
      const int c = j + cvOffset;
      const int k = j + step;
      const double ua = cvUA(st, host, hx, c, j, true, aCv, hWall);
      hx.uaCv[at(c)] = ua;
      const double tIn = hx.tNode[at(j)];
      const double tStore = hx.tStore[at(c)];
      const double tOld = hx.tCvOld[at(c)];
      // CV balance with the CV mean (tIn + tOut) / 2 for storage and exchange.
      const double half = (ua + cCv) / 2.0;
      double tOut = ((mcp - half) * tIn + ua * tStore + cCv * tOld) / (mcp + half);
      const double tMax = std::max({tIn, tStore, tOld});
      const double tMin = std::min({tIn, tStore, tOld});
      const bool limited = tOut > tMax || tOut < tMin;
      if (limited) {
        if (check) {
          host.debugLine(
              listLine("WARNING CV=", j, " T=", tOut, " out of limits tMax=", tMax, " tMin=", tMin)
                  .view());
        }
        tOut = std::clamp(tOut, tMin, tMax);
      }
      hx.tNode[at(k)] = tOut;
      const double qUtilCv = mcp * (tOut - tIn);
      const double tBar = (tOut + tIn) / 2.0;
      const double qAcumCv = (tBar - tOld) * cCv;
      // A limited CV gives the store what closes its own balance.
      const double qHxToTnk = limited ? -(qUtilCv + qAcumCv) : (tBar - tStore) * ua;
      hx.qCv[at(c)] = -qHxToTnk;
      qUtilSum += qUtilCv;
      qAcumSum += qAcumCv;
      qLossSum += qHxToTnk;
      uaSum += ua;
      tStoreMean += tStore / n;
      if (check) {
        const double bal = std::fabs(qAcumSum + qUtilSum + qLossSum);
        if (bal > 1e-8) {
          host.debugLine(listLine("balance FAIL CV=", j, " in stepBystep bal=", bal,
                                  " qUtil=", qUtilSum, " qAcum=", qAcumSum, " qLoss=", qLossSum)
                             .view());
        }
      }
    }
  } else {
    // Resting fluid only relaxes towards the store around it.
    for (int s = 0; s < n; ++s) {
      const int j = first + s * step;
      const int c = j + cvOffset;
      const int k = j + step;
      const double tStore = hx.tStore[at(c)];
      const double tOld = hx.tCvOld[at(c)];
      double tNew = tOld;
      double qHxToTnk = 0.0;
      if (!(std::fabs(tStore - tOld) <= 0.01 || cCv <= 1e-20)) {
        const double ua = cvUA(st, host, hx, c, j, false, aCv, hWall);
        hx.uaCv[at(c)] = ua;
        const double ntu = ua / cCv;
        tNew = (tStore * ntu + tOld) / (ntu + 1.0);
        // The fluid may not overshoot the store, nor the mean of the store and
        // the fluid entering from the previous CV.
        const double tBound = s == 0 ? tStore : (tStore + hx.tNode[at(j)]) / 2.0;
        tNew = tOld > tStore ? std::max(tNew, tBound) : std::min(tNew, tBound);
        qHxToTnk = -(tNew - tOld) * cCv;
      }
      hx.qCv[at(c)] = -qHxToTnk;
      qLossSum += qHxToTnk;
      tStoreMean += tStore / n;
      if (s == 0) {
        hx.tNode[at(j)] = tNew;
        hx.tNode[at(k)] = tNew;
      } else {
        hx.tNode[at(k)] = 2.0 * tNew - hx.tNode[at(j)];
      }
      if (check && std::fabs(qLossSum) > 1e10) {
        host.debugLine(listLine("CHECK: nCenter:", cvOffset, " qHxToTnk=", qLossSum,
                                " UA=", hx.uaCv[at(c)], " t=", tOld, " tStore=", tStore)
                           .view());
      }
    }
    qUtilSum = 0.0;
    qAcumSum = -qLossSum;
  }

  hx.qAcum = qAcumSum;
  hx.tOutHx = hx.tNode[at(last)];
  hx.qLoss = qLossSum;
  hx.balHx = qAcumSum + qUtilSum + qLossSum;
  hx.uaHx = uaSum;
  hx.tStoreMean = tStoreMean;
  hx.qUtil = mcp * (hx.tOutHx - hx.tInHx);

  if (check) {
    const double diff = std::fabs(hx.qUtil - qUtilSum);
    if (diff > 1e-8) {
      host.debugLine(listLine("qUtil=", hx.qUtil, " does not match summatory of qUtil=", qUtilSum,
                              " with error=", diff)
                         .view());
    }
    if (std::fabs(hx.balHx) > 0.01) {
      host.debugLine(listLine("balance FAIL in stepBystep bal=", hx.balHx, " qUtil=", hx.qUtil,
                              " qAcum=", hx.qAcum, " qLoss=", hx.qLoss, " mIn=", hx.mDotHx)
                         .view());
    }
  }
}

}  // namespace plugstore
