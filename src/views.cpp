#include "views.hpp"

namespace vorn {

AlignmentArrays alignment_arrays(const Workspace& ws) {
  AlignmentArrays a;
  a.aln = ws.aln.rows();
  a.var = const_cast<int32_t*>(ws.var.data());
  a.acc = const_cast<int32_t*>(ws.acc.data());
  a.sec_str = const_cast<char*>(ws.sec_str.data());
  a.pdbnum = const_cast<int32_t*>(ws.pdbnum.data());
  a.chain = const_cast<char*>(ws.chain.data());
  a.res1 = const_cast<uint8_t*>(ws.res1.data());
  return a;
}

RandomPassArrays random_pass_arrays(Workspace& ws) {
  RandomPassArrays a;
  a.sufix = ws.sufix.rows();
  a.nsuffl = ws.nsuffl;
  a.icorr = ws.icorr.data();
  a.colstat = ws.colstat.data();
  a.lanesim = ws.lanesim.data();
  a.lane_stride = lane_tile_doubles(ws.nprot);
  a.tile_pairs = lane_tile_pairs(ws.nprot);
  a.groups = ws.lanegroups.data();
  a.group_stride = lane_groups(ws.alnlen) + 1;
  a.active = ws.grouppos.data();
  a.codes8 = ws.groupcodes.data();  // the real pass's groups are done with
  a.rndcorr = ws.rndcorr.rows();
  a.pool = ws.globdist();
  a.count = &ws.globcount();
  return a;
}

WeightedRandom weighted_random(Workspace& ws) {
  WeightedRandom w;
  w.sufix = ws.sufix.rows();
  w.nsuffl = ws.nsuffl;
  w.icorr = ws.icorr.data();
  w.stat = ws.wstat.data();
  w.lanes = ws.wlanes.data();
  w.tile_pairs = lane_tile_pairs(ws.nprot);
  w.lane_stride = lane_tile_doubles(ws.nprot);
  w.lane_rank = ws.wlanerank.data();
  w.lane_rowwy = ws.lane_rowwy.data();
  w.inverse = ws.inverse.data();
  w.rndcorr = ws.rndcorr.rows();
  return w;
}

}  // namespace vorn
