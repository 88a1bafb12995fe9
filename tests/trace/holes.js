'use strict';
// The drilling trace jobs: every cycle kind a CYCLE record can name but the
// helical ones, each with three holes whose tops stand at two levels (the
// middle one higher, so that the tool must rise before it and may not come
// down onto it at rapid), posted in absolute and in incremental output.
// Each hole must be drilled at its XY to its depth at the cycle feed, as a
// cycle the control has or as plain moves, never reached at rapid below its
// R plane. Bore 3 and bore 4, which ISO controls write as the back boring
// and the manual retract cycle, have a job of their own.

// Minor words of the CYCLE record with their depth values; a deep drill
// with one depth value (no peck given) pecks the whole depth.
const KINDS = [
  { minor: 163, depths: [12] },           // drill
  { minor: 288, depths: [12] },           // break chip
  { minor: 153, depths: [4, 8, 12] },     // deep drill, pecks of 4
  { minor: 153, depths: [12] },           // deep drill without a peck
  { minor: 168, depths: [10] },           // tap
  { minor: 209, depths: [12] },           // bore 1
  { minor: 210, depths: [12] },           // bore 2
  { minor: 213, depths: [12] },           // bore 5
  { minor: 169, depths: [10] },           // rigid tap
  { minor: 154, depths: [4, 8, 12] },     // deep drill 2
];

// Hole tops at Z5 and Z12: the first and last hole of each row low, the
// middle one high.
function holesJob(kinds = KINDS) {
  // Required here: jobs.js lists these jobs among its own.
  const { Cut } = require('./jobs');
  const c = new Cut().units('mm').part('TRACE').from(0, 0, 100)
    .tool(1, 8, 50).spindle(800).coolant(true);
  kinds.forEach((k, i) => {
    const y = 10 + 10 * i;
    c.rapid().goto([10, y, 5]);
    c.add(2000, 1054, [['i', k.minor], ...k.depths.map((d) => ['r', d]), ['i', 315], ['r', 90], ['i', 0], ['r', 3]]);
    c.goto([10, y, 5], [30, y, 12], [50, y, 5]);
    c.cycleOff();
  });
  return c.rapid().goto([50, 10 + 10 * kinds.length, 50]).coolant(false).spindleOff().end();
}

const HOLE_JOBS = [
  { name: 'holes', build: () => holesJob() },
  { name: 'inc_holes', build: () => holesJob(), options: ['coordinates = incremental'] },
  { name: 'bores', build: () => holesJob([{ minor: 211, depths: [12] }, { minor: 212, depths: [12] }]) },
  // A control without a drill or bore code: the holes as rapid and feed moves.
  { name: 'hole_moves', build: () => holesJob([{ minor: 163, depths: [12] }, { minor: 209, depths: [12] }]),
    options: ['define codes', '  drill not used', '  bore 1 not used', 'end define'] },
];

module.exports = { HOLE_JOBS };
