'use strict';
// The trace jobs: small cutfiles of the kinds a user posts every day, written
// record by record in the ASCII layout. Each job is a list of records built
// by the helpers below; `writeCutfile` turns it into the file's text.
//
// Record shapes (class, subclass or major word, data words):
//   units 9000/9 (171 mm, 173 inch); part number 2000/1045 (characters);
//   FROM 5000/3 and GOTO 5000/5 (two integers, then x y z per point, and
//   i j k after each in multi-axis mode 9000/2 (1 on, 0 off));
//   tool change 2000/1055 (tool, -, length, -, diameter, -, length offset,
//   radius offset); spindle 2000/1031 (speed, 78 rpm, 60 clockwise);
//   coolant 2000/1030 (89 flood, 72 off); rapid 2000/5; feed 2000/1009
//   (feed, 315 per minute); circle 3000/2 (0, 4, three zeros, centre, axis,
//   radius); cycle 2000/1054 (minor word, depths, 315, feed, 0, clearance);
//   text command 2000/1079 (characters from the second word on: INC, ABS);
//   cycle off 2000/1054 (72); toolpath 2000/1094 (0: a cutfile with these
//   records is read toolpath by toolpath); go home 2000/17 (the next GOTO
//   is the home point); end 14000.
// A cycle's depths and clearance are measured down the tool axis from each
// hole's GOTO point: the R plane lies `clearance` below it, the bottom
// `depth` below it.

const { HOLE_JOBS } = require('./holes');
const { spindleFeedJob, checkTime } = require('./spindle_feed');

const CYCLE_MINOR = { drill: 163, peck: 153, tap: 168, bore: 209 };

class Cut {
  constructor() { this.records = []; }
  add(cls, sub, data = []) { this.records.push({ cls, sub, data }); return this; }
  units(u) { return this.add(9000, 9, [['i', u === 'in' ? 173 : 171]]); }
  part(text) { return this.add(2000, 1045, [...text].map((c) => ['c', c])); }
  from(x, y, z) { return this.add(5000, 3, [['i', 0], ['i', 0], ['r', x], ['r', y], ['r', z]]); }
  tool(n, diameter, length) {
    return this.add(2000, 1055, [['r', n], ['r', 0], ['r', length], ['r', 0], ['r', diameter], ['r', 0], ['r', n], ['r', n]]);
  }
  spindle(rpm) { return this.add(2000, 1031, [['r', rpm], ['i', 78], ['i', 60]]); }
  spindleOff() { return this.add(2000, 1031, [['r', 0], ['i', 78], ['i', 72]]); }
  coolant(on) { return this.add(2000, 1030, [['i', on ? 89 : 72]]); }
  rapid() { return this.add(2000, 5); }
  feed(f) { return this.add(2000, 1009, [['r', f], ['i', 315]]); }
  goto(...points) {
    const data = [['i', 0], ['i', 0]];
    for (const p of points) for (const v of p) data.push(['r', v]);
    return this.add(5000, 5, data);
  }
  circle(centre, axis, radius) {
    return this.add(3000, 2, [['i', 0], ['i', 4], ['r', 0], ['r', 0], ['r', 0],
      ...centre.map((v) => ['r', v]), ...axis.map((v) => ['r', v]), ['r', radius]]);
  }
  // An arc: the circle record, then one GOTO with the points on the way.
  arc(centre, axis, radius, ...points) { return this.circle(centre, axis, radius).goto(...points); }
  cycle(kind, depths, feed, clearance) {
    return this.add(2000, 1054, [['i', CYCLE_MINOR[kind]], ...depths.map((d) => ['r', d]),
      ['i', 315], ['r', feed], ['i', 0], ['r', clearance]]);
  }
  cycleOff() { return this.add(2000, 1054, [['i', 72]]); }
  toolpath() { return this.add(2000, 1094, [['r', 0]]); }
  // The record's first character is not part of the command.
  text(command) { return this.add(2000, 1079, [...(' ' + command)].map((c) => ['c', c])); }
  goHome(p) { return this.add(2000, 17).goto(p); }
  // Multi-axis mode on: each GOTO point carries its tool vector (i, j, k).
  multiaxis(on) { return this.add(9000, 2, [['i', on ? 1 : 0]]); }
  end() { return this.add(14000, 0, [['i', 0]]); }
}

// The common start of a milling job: units, part number, FROM, first tool.
function millStart(units = 'mm', scale = 1) {
  return new Cut().units(units).part('TRACE').from(0, 0, 100 * scale)
    .tool(1, 10 * scale, 50 * scale).spindle(1200).coolant(true);
}
function millEnd(c, scale = 1, at = [0, 0]) {
  return c.rapid().goto([at[0], at[1], 50 * scale]).coolant(false).spindleOff().end();
}

// A contour of lines in the XY plane at Z-2, with moves along one axis, along
// two and along all three.
function lines(c, s = 1) {
  c.rapid().goto([10 * s, 10 * s, 5 * s]).feed(200 * s).goto([10 * s, 10 * s, -2 * s]);
  c.goto([60 * s, 10 * s, -2 * s], [60 * s, 40 * s, -2 * s], [35 * s, 55 * s, -2 * s]);
  c.feed(120 * s).goto([10 * s, 40 * s, -3 * s], [10 * s, 10 * s, -3 * s]);
  return c.rapid().goto([10 * s, 10 * s, 5 * s]);
}

// Arcs in one plane: CCW and CW, under and over 180 degrees. `q` maps the
// plane's two coordinates and the depth across it onto x, y, z; `axis` is
// the plane's normal (the arc turns counter-clockwise about it, clockwise
// about its opposite).
function planeArcs(c, q, axis) {
  const n = axis.map((v) => -v);
  c.rapid().goto(q(20, 0, 10)).feed(150).goto(q(20, 0, 0));
  c.arc(q(0, 0, 0), axis, 20, q(0, 20, 0));            // CCW 90
  c.arc(q(0, 40, 0), n, 20, q(-20, 40, 0));            // CW 90
  c.arc(q(-20, 60, 0), axis, 20, q(-40, 60, 0));       // CCW 270
  c.arc(q(-40, 80, 0), n, 20, q(-20, 80, 0));          // CW 270
  c.arc(q(-10, 80, 0), axis, 10, q(0, 80, 0));         // CCW 180
  c.arc(q(10, 80, 0), n, 10, q(20, 80, 0));            // CW 180
  c.arc(q(30, 80, 0), n, 10, q(37.0711, 87.0711, 0));  // CW 135
  return c.rapid().goto(q(37.0711, 87.0711, 10));
}
const PLANES = {
  xy: { axis: [0, 0, 1], q: (a, b, d) => [a, b, d - 5] },
  zx: { axis: [0, 1, 0], q: (a, b, d) => [b, d - 5, a] }, // Z, X in the plane; Y across
  yz: { axis: [1, 0, 0], q: (a, b, d) => [d - 5, a, b] }, // Y, Z in the plane; X across
};
function arcsJob(plane) {
  const p = PLANES[plane];
  const c = millStart();
  const q = (a, b, d) => p.q(a + 60, b + 40, d);
  planeArcs(c, q, p.axis);
  return millEnd(c);
}

// Full circles given by their end point alone, in the three planes.
function circlesJob() {
  const c = millStart();
  for (const plane of ['xy', 'zx', 'yz']) {
    const p = PLANES[plane];
    const q = (a, b, d) => p.q(a + 50, b + 50, d);
    c.rapid().goto(q(15, 0, 10)).feed(150).goto(q(15, 0, 0));
    c.arc(q(0, 0, 0), p.axis, 15, q(15, 0, 0));
    c.arc(q(0, 0, 0), p.axis.map((v) => -v), 15, q(15, 0, 0));
    c.rapid().goto(q(15, 0, 10));
  }
  return millEnd(c);
}

// A helix: two turns down about (50, 50), given by the end point, then one
// given with its points on the way.
function helixJob() {
  const c = millStart();
  c.rapid().goto([60, 50, 5]).feed(150).goto([60, 50, 1]);
  c.arc([50, 50, 0], [0, 0, 1], 10, [40, 50, -1]);             // half a turn down 2
  c.arc([50, 50, 0], [0, 0, 1], 10, [50, 40, -2], [60, 50, -3]); // on down, points on the way
  c.goto([50, 50, -3]);
  return millEnd(c.rapid().goto([50, 50, 5]));
}

// Helices of several turns given by their points: three turns down by 1 a
// turn as 36 points about (50, 50), then one and a half turns clockwise back
// up as points 45 degrees apart. Each turn must be cut, not the whole rise
// in one.
function helixTurnsJob() {
  const c = millStart();
  c.rapid().goto([60, 50, 5]).feed(150).goto([60, 50, 0]);
  const down = [];
  for (let i = 1; i <= 36; i++) {
    const a = (i * 30 * Math.PI) / 180;
    down.push([50 + 10 * Math.cos(a), 50 + 10 * Math.sin(a), -i / 12]);
  }
  c.arc([50, 50, 0], [0, 0, 1], 10, ...down);
  const up = [];
  for (let i = 1; i <= 12; i++) {
    const a = (-i * 45 * Math.PI) / 180;
    up.push([50 + 10 * Math.cos(a), 50 + 10 * Math.sin(a), -3 + i / 8]);
  }
  c.arc([50, 50, 0], [0, 0, -1], 10, ...up);
  return millEnd(c.rapid().goto([40, 50, 5]));
}

// Arcs as a CAM system writes them to three decimals: the start, the end and
// the centre each rounded, so that the end lies up to about a thousandth
// further from the centre than the start. Each must stay an arc.
function roundedArcsJob() {
  const c = millStart();
  const r3 = (v) => Math.round(v * 1000) / 1000;
  const at = (cx, cy, r, deg) => [r3(cx + r * Math.cos((deg * Math.PI) / 180)), r3(cy + r * Math.sin((deg * Math.PI) / 180)), -1];
  // A small corner radius, counter-clockwise: radii 0.188 and 0.187.
  c.rapid().goto([60.188, 35, 5]).feed(150).goto([60.188, 35, -1]);
  c.arc([60, 35, -1], [0, 0, 1], 0.188, [60, 35.187, -1]);
  // Arcs about centres that do not round to a thousandth.
  const arcs = [
    { centre: [70.3333, 40.6667], r: 10.1234, from: 200, to: 290, axis: [0, 0, 1] },
    { centre: [90.1111, 30.7777], r: 15.4321, from: 110, to: 20, axis: [0, 0, -1] },
    { centre: [50.4444, 60.5555], r: 7.7777, from: 30, to: 250, axis: [0, 0, 1] },
  ];
  for (const a of arcs) {
    c.goto(at(a.centre[0], a.centre[1], a.r, a.from));
    c.arc([r3(a.centre[0]), r3(a.centre[1]), -1], a.axis, r3(a.r), at(a.centre[0], a.centre[1], a.r, a.to));
  }
  return millEnd(c.rapid().goto([50, 50, 5]));
}

function drillJob() {
  const c = millStart();
  c.rapid().goto([30, 30, 5]);
  c.cycle('drill', [15], 100, 3).goto([30, 30, 5], [60, 30, 5], [60, 60, 5]);
  return millEnd(c.rapid().goto([60, 60, 20]));
}

function cyclesJob() {
  const c = millStart();
  c.rapid().goto([20, 20, 5]);
  c.cycle('peck', [5, 10, 15], 80, 3).goto([20, 20, 5], [40, 20, 5]);
  c.cycleOff().rapid().goto([40, 20, 20]);
  c.tool(2, 8, 60).spindle(300).rapid().goto([20, 50, 5]);
  c.cycle('tap', [12], 375, 4).goto([20, 50, 5], [40, 50, 5]);
  c.cycleOff().rapid().goto([40, 50, 20]);
  c.tool(3, 12, 70).spindle(800).rapid().goto([20, 80, 5]);
  c.cycle('bore', [10], 60, 2).goto([20, 80, 5], [40, 80, 5]);
  c.cycleOff();
  return millEnd(c.rapid().goto([40, 80, 20]));
}

// Two tools, each with a contour of its own; the second starts at Z0 and at
// X0 and Y0, values a machine after a reference return must still be sent.
function twoToolsJob() {
  const c = millStart();
  lines(c);
  c.rapid().goto([10, 10, 50]);
  c.tool(2, 6, 40).spindle(2000).rapid().goto([0, 40, 0]).feed(300);
  c.goto([0, 40, -1], [30, 40, -1], [30, 0, -1], [0, 0, -1]);
  return millEnd(c.rapid().goto([0, 0, 5]));
}

function inchJob() {
  const s = 1 / 25;
  const c = millStart('in', s);
  lines(c, s);
  c.rapid().goto([2.4, 1.6, 0.2]).feed(6).goto([2.4, 1.6, -0.08]);
  c.arc([2.0, 1.6, -0.08], [0, 0, 1], 0.4, [1.6, 1.6, -0.08]);
  c.arc([1.2, 1.6, -0.08], [0, 0, -1], 0.4, [0.8, 1.6, -0.08]);
  c.rapid().goto([0.8, 1.6, 0.2]);
  return millEnd(c, s);
}

// The incremental job: its lines and a 270-degree lobe whose increments
// repeat (after a move of Y-5 the lobe ends 5 below its start).
function incrementalJob() {
  const c = millStart();
  lines(c);
  c.rapid().goto([0, 30, 5]).feed(150).goto([0, 30, -1], [0, 25, -1], [0, 20, -1]);
  c.arc([-2.5, 17.5, -1], [0, 0, 1], 3.5355, [0, 15, -1]);  // CCW 270 back below the start
  c.goto([0, 10, -1]);
  c.arc([0, 0, -1], [0, 0, -1], 10, [10, 0, -1]);            // CW 90
  return millEnd(c.rapid().goto([10, 0, 5]));
}

// Two tools in incremental coordinates, each toolpath with a FROM point of
// its own that no line goes to: the tool change must tell the machine where
// the new tool stands, and the increments that follow must start there. The
// second FROM lies away from where the first tool left off, so increments
// taken from the wrong one of the two show. Without toolpath records each
// FROM comes before its tool; with them (`toolpaths`) the order is toolpath,
// tool, FROM, so the first tool change comes before any FROM, and the job
// ends with a go home, as such cutfiles do.
function incrementalToolsJob(toolpaths) {
  const c = new Cut().units('mm').part('TRACE');
  const start = (n, diameter, length, from) => {
    if (toolpaths) c.toolpath().tool(n, diameter, length).from(...from);
    else c.from(...from).tool(n, diameter, length);
  };
  start(1, 10, 50, [0, 0, 100]);
  c.spindle(1200).coolant(true);
  lines(c);
  c.rapid().goto([60, 40, 50]);
  start(2, 6, 40, [0, 0, 150]);
  c.spindle(2000).rapid().goto([30, 40, 5]).feed(300);
  c.goto([30, 40, -1], [50, 40, -1], [50, 20, -1]);
  c.rapid().goto([50, 20, 5]);
  // A cutfile with toolpath records sends the tool home at its end.
  if (toolpaths) c.goHome([50, 20, 50]);
  else c.rapid().goto([50, 20, 50]);
  return c.coolant(false).spindleOff().end();
}

// A job that starts absolute, turns to increments with the text command INC
// and back with ABS, each time with a record between the command and the
// next move (a coolant or spindle command, which some controls write on a
// line of their own). The increments repeat those before the switch, so a
// tape that writes them under the wrong mode ends up elsewhere.
function incAbsSwitchJob() {
  const c = millStart();
  c.rapid().goto([10, 10, 5]).feed(200).goto([10, 10, -1], [30, 10, -1]);
  c.text('INC').coolant(true);
  c.goto([50, 10, -1], [50, 30, -1], [40, 40, -2]);
  c.arc([30, 40, -2], [0, 0, 1], 10, [30, 50, -2]);            // CCW 90
  c.arc([30, 60, -2], [0, 0, -1], 10, [20, 60, -2]);           // CW 270
  c.rapid().goto([20, 60, 5]);
  c.rapid().goto([60, 60, 5]).feed(150).goto([60, 60, -1]);
  c.text('ABS').spindle(1500);
  c.goto([60, 20, -1], [40, 20, -2]);
  c.arc([30, 20, -2], [0, 0, 1], 10, [20, 20, -2]);            // CCW 180
  return millEnd(c.rapid().goto([20, 20, 5]));
}

// A turning profile: X is the radius, Z runs along the spindle, Y is 0.
// Arcs turn about Y (the ZX plane): a convex and a concave radius.
function turningJob(units = 'mm') {
  const c = new Cut().units(units).part('TRACE').from(60, 0, 50)
    .tool(1, 0.8, 0).spindle(1500).coolant(true);
  const p = (x, z) => [x, 0, z];
  c.rapid().goto(p(22, 2)).feed(0.25 * 400);
  c.goto(p(0, 2), p(0, 0), p(8, 0));
  c.arc(p(8, -2), [0, 1, 0], 2, p(10, -2));        // convex corner, 90 degrees
  c.goto(p(10, -15));
  c.arc(p(14, -15), [0, -1, 0], 4, p(14, -19));    // concave fillet, 90 degrees
  c.goto(p(18, -19), p(20, -21), p(20, -35), p(24, -35));
  c.rapid().goto(p(40, 10));
  return c.coolant(false).spindleOff().end();
}

// A wire contour: a start hole, lines, CW and CCW arcs, a 270-degree lobe, a
// full circle, then a rapid to a second start hole and its contour. Z stays 0.
function wireJob() {
  const c = new Cut().units('mm').part('TRACE').from(20, 20, 0)
    .tool(1, 0.25, 0).feed(4);
  const p = (x, y) => [x, y, 0];
  c.goto(p(20, 5), p(35, 5));
  c.arc(p(35, 15), [0, 0, 1], 10, p(45, 15));        // CCW 90
  c.goto(p(45, 25));
  c.arc(p(50, 25), [0, 0, -1], 5, p(55, 25));        // CW 180
  c.goto(p(55, 35), p(40, 35));
  c.arc(p(40, 40), [0, 0, 1], 5, p(35, 40));         // CCW 270 lobe
  c.goto(p(35, 45), p(20, 45));
  c.arc(p(20, 40), [0, 0, 1], 5, p(20, 35), p(20, 45)); // CCW full circle with a point on the way
  c.goto(p(20, 20));
  c.rapid().goto(p(80, 20));
  c.goto(p(80, 10), p(90, 10));
  c.arc(p(90, 20), [0, 0, 1], 10, p(90, 30), p(90, 10)); // CCW full circle
  c.goto(p(80, 10), p(80, 20));
  return c.end();
}

// A job for tapes cut short: a contour at two feeds, an arc, a second tool
// and a go home at the end. With a tape limit of one foot every tape holds
// little more than its start, its return to the cut and a move or two.
function splitJob() {
  const c = millStart();
  lines(c);
  c.rapid().goto([60, 40, 5]).feed(150).goto([60, 40, -1]);
  c.arc([50, 40, -1], [0, 0, 1], 10, [40, 40, -1]);
  c.rapid().goto([40, 40, 50]);
  c.tool(2, 6, 40).spindle(2000).rapid().goto([0, 40, 5]).feed(300);
  c.goto([0, 40, -1], [30, 40, -1], [30, 0, -1]);
  c.rapid().goto([30, 0, 5]);
  return c.goHome([30, 0, 50]).coolant(false).spindleOff().end();
}

// The wire contour's shape in increments: a start hole, lines and arcs cut
// after the text command INC, then ABS with lines back to the start hole.
function wireIncAbsJob() {
  const c = new Cut().units('mm').part('TRACE').from(20, 20, 0)
    .tool(1, 0.25, 0).feed(4);
  const p = (x, y) => [x, y, 0];
  c.goto(p(20, 5), p(35, 5));
  c.text('INC');
  c.goto(p(45, 5), p(45, 15));
  c.arc(p(45, 25), [0, 0, 1], 10, p(55, 25));        // CCW 90
  c.arc(p(65, 25), [0, 0, -1], 10, p(75, 25));       // CW 180
  c.goto(p(75, 45));
  c.text('ABS');
  c.goto(p(20, 45), p(20, 20));
  return c.end();
}

// A tapered die on a wire machine with a taper head: the wire stands 30 mm
// between its guides and leans 4 degrees, outward on each side of a
// rectangle, the lean changing at the corners; then upright again.
function wireTaperJob() {
  const c = new Cut().units('mm').part('TRACE').from(20, 20, 0)
    .tool(1, 0.25, 30).feed(4).multiaxis(true);
  const t = Math.tan(4 * Math.PI / 180);
  const lean = (x, y, lx, ly) => { const n = Math.hypot(lx, ly, 1); return [x, y, 0, lx / n, ly / n, 1 / n]; };
  c.goto(lean(20, 5, 0, -t), lean(50, 5, 0, -t), lean(50, 25, t, 0), lean(20, 25, 0, t), lean(20, 5, -t, 0));
  c.goto(lean(20, 20, 0, 0));
  return c.multiaxis(false).end();
}

// The job set by the kind of machine: name, builder, option-file lines;
// `spindle` has the check follow the spindle, `check` is a further check of
// the run ({ steps, stderr, dir }) that returns failures.
const JOBS = {
  mill: [
    { name: 'lines', build: () => millEnd(lines(millStart())) },
    { name: 'arcs_xy', build: () => arcsJob('xy') },
    { name: 'arcs_zx', build: () => arcsJob('zx') },
    { name: 'arcs_yz', build: () => arcsJob('yz') },
    { name: 'circles', build: circlesJob },
    { name: 'helix', build: helixJob },
    { name: 'helix_turns', build: helixTurnsJob },
    { name: 'rounded_arcs', build: roundedArcsJob },
    { name: 'drill', build: drillJob },
    { name: 'cycles', build: cyclesJob },
    { name: 'two_tools', build: twoToolsJob },
    { name: 'inch', build: inchJob },
    { name: 'incremental', build: incrementalJob, options: ['coordinates = incremental'] },
    { name: 'inc_tools', build: () => incrementalToolsJob(false), options: ['coordinates = incremental'] },
    { name: 'inc_paths', build: () => incrementalToolsJob(true), options: ['coordinates = incremental'] },
    { name: 'split', build: splitJob, options: ['maximum tape length = 1.0'] },
    { name: 'inc_split', build: splitJob, options: ['coordinates = incremental', 'maximum tape length = 1.0'] },
    { name: 'inc_switch', build: incAbsSwitchJob },
    ...HOLE_JOBS,
    { name: 'spindle_feed', build: () => spindleFeedJob(Cut), spindle: true, check: checkTime },
  ],
  lathe: [
    { name: 'turning', build: () => turningJob('mm') },
  ],
  wire: [
    { name: 'wire', build: wireJob },
    { name: 'inc_switch', build: wireIncAbsJob },
    { name: 'taper', build: wireTaperJob, needs: 'taper' },
  ],
};

// The ASCII layout: a header line, then each record as I, F and A fields
// (the first I field of a record's first line is its line number), lines cut
// before 72 characters, the record ended by the delimiter.
function formatField(w) {
  if (w[0] === 'i') return 'I' + String(w[1]).padStart(5);
  if (w[0] === 'c') return 'A' + w[1];
  const v = Math.round(w[1] * 10000) / 10000;
  return 'F' + v.toFixed(4).padStart(12);
}
function writeCutfile(cut) {
  const out = ['$I5F64A1$'];
  cut.records.forEach((r, k) => {
    const n = k + 1;
    const fields = [['i', n], ['i', r.cls], ['i', r.sub], ...r.data].map(formatField);
    let line = 'I' + String(n).padStart(5);
    for (const f of fields) {
      if (line.length + f.length > 72) { out.push(line); line = ''; }
      line += f;
    }
    out.push(line + '$');
  });
  return out.join('\n') + '\n';
}

module.exports = { JOBS, writeCutfile, Cut };
