'use strict';
// The spindle and feed job: one tool cuts a contour at a feed per
// revolution, stops its spindle, cuts counter-clockwise at a lower speed and
// another feed per revolution, stops again, restarts clockwise at a third
// speed for a tap whose feed is the pitch per revolution, and ends with a
// contour at a feed per minute. The tape must run every feed move with the
// spindle turning the way the cutfile turns it, at the cutfile's feed per
// minute (a feed per revolution times the speed in force): a feed written in
// the wrong mode, a restart left out or a speed not written all show.

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
  // a minute.
  c.spindleOff();
  spindle(300, CLOCKWISE);
  c.rapid().goto([20, 50, 5]);
  c.add(2000, 1054, [['i', TAP], ['r', 12], ['i', PER_REVOLUTION], ['r', 1.25], ['i', 0], ['r', 4]]);
  c.goto([20, 50, 5], [40, 50, 5]);
  c.cycleOff();
  // Back to a feed per minute after the cycle.
  c.rapid().goto([40, 70, 5]);
  feed(90, PER_MINUTE);
  c.goto([40, 70, -1], [60, 70, -1]);
  return c.rapid().goto([60, 70, 50]).coolant(false).spindleOff().end();
}

// The spindle each feed move and hole of the tape runs with, against the
// cutfile's: turning, and in its sense. The feeds themselves are compared by
// the common check, which takes feeds per minute on both sides.
function checkSpindle(exp, steps, lines) {
  const failures = [];
  const cut = exp.items.filter((i) => (i.kind === 'point' && !i.rapid) || i.kind === 'arc' || i.kind === 'hole');
  const tape = steps.filter((s) => (s.type === 'move' && s.motion !== 'G0') || s.type === 'hole');
  const where = (s) => (s.line && lines[s.line - 1] !== undefined ? `line ${s.line} "${lines[s.line - 1].trim()}"` : '');
  // Each cutfile item's sense, in order, for the tape's feed moves in order:
  // the tape may write an item as several moves, never in another sense.
  const senses = cut.map((i) => i.spindle && i.spindle.sense);
  let k = 0;
  for (const s of tape) {
    const sense = s.spindle ? s.spindle.sense : 'unknown';
    if (sense === 'off' || sense === 'unknown') {
      failures.push({ text: `feed move with the spindle ${sense === 'off' ? 'stopped' : 'never started'}`, where: where(s) });
      continue;
    }
    while (k < senses.length - 1 && senses[k] !== sense) k++;
    if (senses[k] !== sense) failures.push({ text: `feed move with the spindle turning ${sense} where the cutfile turns it ${senses[k]}`, where: where(s) });
  }
  return failures;
}

module.exports = { spindleFeedJob, checkSpindle };
