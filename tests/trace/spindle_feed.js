'use strict';
// The spindle and feed job: one tool cuts a contour at a feed per
// revolution, stops its spindle, cuts counter-clockwise at a lower speed and
// another feed per revolution, stops again, restarts clockwise at a third
// speed for a tap whose feed is the pitch per revolution, and ends with a
// slow contour at a feed per minute. The common check (with the job's
// `spindle` flag) wants every feed move and hole of the tape at the
// cutfile's feed per minute (a feed per revolution times the speed in force)
// with the spindle turning in the cutfile's sense; `checkTime` wants the
// run's total time within 5% of the time the tape takes.

const fs = require('fs');
const path = require('path');

const PER_MINUTE = 315;
const PER_REVOLUTION = 316;
const CLOCKWISE = 60;
const COUNTER_CLOCKWISE = 59;
const TAP = 168;

function spindleFeedJob(Cut) {
  const c = new Cut().units('mm').part('TRACE').from(0, 0, 100).tool(1, 10, 50);
  const spindle = (rpm, sense) => c.add(2000, 1031, [['r', rpm], ['i', 78], ['i', sense]]);
  const feed = (f, unit) => c.add(2000, 1009, [['r', f], ['i', unit]]);
  spindle(1200, CLOCKWISE).coolant(true);
  // 0.1 a revolution at 1200: 120 a minute.
  c.rapid().goto([10, 10, 5]);
  feed(0.1, PER_REVOLUTION);
  c.goto([10, 10, -2], [60, 10, -2], [60, 40, -2]);
  c.rapid().goto([60, 40, 5]);
  // Stopped, then reversed at 600: 0.25 a revolution is 150 a minute.
  c.spindleOff();
  spindle(600, COUNTER_CLOCKWISE);
  c.rapid().goto([30, 30, 5]);
  feed(0.25, PER_REVOLUTION);
  c.goto([30, 30, -1], [45, 30, -1]);
  c.rapid().goto([45, 30, 5]);
  // Stopped, then restarted clockwise at 300 for a tap of pitch 1.25: 375
  // a minute (95% of it as a tap).
  c.spindleOff();
  spindle(300, CLOCKWISE);
  c.rapid().goto([20, 50, 5]);
  c.add(2000, 1054, [['i', TAP], ['r', 12], ['i', PER_REVOLUTION], ['r', 1.25], ['i', 0], ['r', 4]]);
  c.goto([20, 50, 5], [40, 50, 5]);
  c.cycleOff();
  // Back to a feed per minute after the cycle: 66 at 30 a minute, so that
  // the job's time (tenths of a minute in the summary) is some minutes.
  c.rapid().goto([40, 70, 10]);
  feed(30, PER_MINUTE);
  c.goto([40, 70, -1], [100, 70, -1]);
  return c.rapid().goto([100, 70, 50]).coolant(false).spindleOff().end();
}

const dist = (a, b) => Math.hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
const arr = (v) => (Array.isArray(v) ? v : [v.x, v.y, v.z]);

// The minutes the traced tape takes: rapid moves at the rapid feedrate the
// setup sheet names, feed moves at their feed (arcs along their sweep), and
// each hole from its start height to its R plane and back at rapid, down at
// its feed and out at that feed (taps, bores) or at rapid. A move from a
// position the tape has not stated yet (at its start, or after a reference
// return) is not counted.
function tapeMinutes(steps, rapid) {
  let t = 0;
  // The axes at a reference point (after a reference return) until a move
  // along them.
  let atReference = new Set();
  for (const s of steps) {
    if (s.type === 'home') atReference = new Set([0, 1, 2]);
    if (s.type === 'move') {
      const from = arr(s.from);
      const to = arr(s.to);
      const along = [0, 1, 2].filter((i) => !(Math.abs(to[i] - from[i]) < 1e-9));
      const known = along.every((i) => !atReference.has(i));
      for (const i of along) atReference.delete(i);
      if (!known || ![...from, ...to].every(Number.isFinite)) continue;
      let length = dist(from, to);
      if ((s.motion === 'G2' || s.motion === 'G3') && s.centre) {
        const c = arr(s.centre);
        const r = Math.hypot(...[0, 1, 2].map((i) => from[i] - c[i]).filter((v, i) => i !== ({ xy: 2, zx: 1, yz: 0 }[s.plane || 'xy'])));
        if (s.sweep !== undefined) length = Math.hypot(r * s.sweep * Math.PI / 180, to[2] - from[2]);
      }
      t += s.motion === 'G0' ? length / rapid : s.feed > 0 ? length / s.feed : 0;
    } else if (s.type === 'hole' && Number.isFinite(s.r) && Number.isFinite(s.bottom)) {
      const approach = Number.isFinite(s.initial) ? Math.max(0, s.initial - s.r) : 0;
      const depth = s.r - s.bottom;
      const out = s.kind === 'tap' || s.kind === 'bore';
      t += (2 * approach) / rapid + (s.feed > 0 ? depth / s.feed : 0) + (out && s.feed > 0 ? depth / s.feed : depth / rapid);
    }
  }
  return t;
}

// The run's TOTAL TIME (standard error, to a tenth of a minute) against the
// tape's time: within 5%, and half a tenth for the rounding.
function checkTime({ steps, stderr, dir }) {
  const total = (stderr.match(/TOTAL TIME\s+([\d.]+)/) || [])[1];
  const inf = path.join(dir, 'job.inf');
  const rapid = fs.existsSync(inf) ? (fs.readFileSync(inf, 'latin1').match(/Rapid feed rate\s+([\d.]+)/) || [])[1] : undefined;
  if (total === undefined || rapid === undefined) return [{ text: 'no TOTAL TIME or no rapid feed rate on the setup sheet' }];
  const t = tapeMinutes(steps, +rapid);
  if (Math.abs(+total - t) > 0.05 * t + 0.05) {
    return [{ text: `TOTAL TIME ${total} min where the tape takes ${t.toFixed(2)} min` }];
  }
  return [];
}

module.exports = { spindleFeedJob, checkTime, tapeMinutes };
