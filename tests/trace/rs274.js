'use strict';
// The second reader of the ISO mill tapes: LinuxCNC's stand-alone RS274/NGC
// interpreter `rs274`, which prints the canonical machining calls that a
// G-code program makes. It reads the program as its own controller does, so
// a tape is first brought into its dialect by the rewrites of DIALECT below:
// each names a way in which a list's dialect differs from what rs274 accepts.
// Nothing else of the tape is changed. A difference that no rewrite can take
// (a cycle that rs274 would read with other meanings) is left in the tape;
// rs274 then stops or goes astray, and the job is a known failure.
//
// The result is the same list of steps that the ISO reader gives (iso.js).

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const NUM = '[+-]?(?:\\d+\\.?\\d*|\\.\\d+)';
const MM = { mm: 1, in: 25.4 };
// Where a reference return (G28, G30) leaves the machine: far from any
// programmed point, so that an axis the tape does not state again after it
// is found (as the controller's reference point would be).
const REFERENCE_POINT = [-987, -987, 987];

// Word letters a tape can carry; with `implied` decimals, a length written
// without a point is read in least increments by the controller.
function impliedLengths(desc) {
  return (line, ctx) => line.replace(new RegExp(`([${desc.lengthLetters}])(${NUM})`, 'g'), (m, l, v) => {
    if (v.includes('.')) return m;
    const digits = v.replace(/^[+-]/, '');
    const sign = v.startsWith('-') ? '-' : '';
    const dec = desc.implied[ctx.units];
    const n = desc.zeros === 'trailing'
      ? parseInt(digits, 10) * 10 ** (desc.digitsBefore[ctx.units] - digits.length)
      : parseInt(digits, 10) / 10 ** dec;
    return `${l}${sign}${+n.toFixed(dec + 2)}`;
  });
}

// The dialect differences, in the order they are applied to each line. Each
// entry: what differs, which descriptions it applies to, and the rewrite.
const DIALECT = [
  { name: 'end-of-block character',
    differs: 'Heidenhain ISO ends each block with "*" and names the program after "%"',
    applies: (d) => !!d.comment,
    rewrite: (line, ctx, desc) => line.replace(desc.comment, ' ') },
  { name: 'program number and delimiter lines',
    differs: 'a "%" line, an O or ":" program number, a "%" with a name: rs274 reads programs without them',
    applies: () => true,
    rewrite: (line, ctx, desc) => (desc.skipLine && desc.skipLine.test(line.trim()) ? '' : line) },
  { name: 'block numbers',
    differs: 'block numbers of any size or place; rs274 takes one N word at the start of the block',
    applies: () => true,
    rewrite: (line) => line.replace(/\bN\d+\s*/g, '') },
  { name: 'G70 and G71 for inch and millimetre input',
    differs: 'rs274 reads G70 and G71 as lathe cycles; its units are G20 and G21',
    applies: (d) => d.unitCodes[70] === 'in',
    rewrite: (line) => line.replace(/G0*70(?!\d|\.)/g, 'G20').replace(/G0*71(?!\d|\.)/g, 'G21') },
  { name: 'lengths without a decimal point',
    differs: 'the controller reads a length without a point in least increments; rs274 in whole units',
    applies: () => true,
    rewrite: (line, ctx, desc) => impliedLengths(desc)(line, ctx) },
  { name: 'absolute arc centres',
    differs: 'I J K give the centre point in absolute data (G90.1 in rs274), increments in G91',
    applies: (d) => d.centres === 'absolute',
    rewrite: (line) => line.replace(/G0*90(?![\d.])/g, 'G90 G90.1').replace(/G0*91(?![\d.])/g, 'G91 G91.1') },
  { name: 'G80 leaves the motion mode in force',
    differs: 'after G80 the controller moves in the G0 or G1 mode it had; rs274 takes G80 as motion mode none',
    applies: () => true,
    rewrite: (line, ctx) => (ctx.motionCancelled && /[XYZ][+-]?[\d.]/.test(line) && !/G0*([0-4]|10|28|30|53|92)(?![\d.])|G8\d/.test(line)
      ? `G${ctx.motion} ${line}` : line) },
  { name: 'work offset by G15 H',
    differs: 'Okuma selects the work offset with G15 Hn; rs274 with G54..',
    applies: (d) => d.workOffsetG15,
    rewrite: (line) => line.replace(new RegExp(`G15\\s*H(\\d+)`, 'g'), (m, n) => `G${53 + Math.max(1, Math.min(6, +n))}`) },
  { name: 'the radius register on a line without compensation',
    differs: 'D names the radius register with the tool or on its own line; rs274 takes D only with G41 or G42',
    applies: () => true,
    rewrite: (line) => (/G4[12](?![\d.])/.test(line) ? line : line.replace(new RegExp(`D${NUM}`, 'g'), '')) },
  { name: 'the length register without G43',
    differs: 'H with G49 or on its own; rs274 takes H only with G43',
    applies: () => true,
    rewrite: (line) => (/G43(?![\d.])/.test(line) ? line : line.replace(new RegExp(`H${NUM}`, 'g'), '')) },
  { name: 'the peck word of a cycle without pecks',
    differs: 'Q with G81..G89 other than G83; rs274 takes Q only with G73 and G83',
    applies: () => true,
    rewrite: (line, ctx) => (ctx.cycle !== 73 && ctx.cycle !== 83 ? line.replace(new RegExp(`Q${NUM}`, 'g'), '') : line) },
  { name: 'the dwell word of a cycle without dwell',
    differs: 'P with a cycle that does not dwell; rs274 refuses an unused P',
    applies: () => true,
    rewrite: (line, ctx) => (ctx.cycle && ![82, 86, 88, 89].includes(ctx.cycle) ? line.replace(new RegExp(`P${NUM}`, 'g'), '') : line) },
  { name: 'a dwell cycle without its dwell',
    differs: 'G82, G86 and G89 without P: the controller dwells for no time; rs274 requires P',
    applies: () => true,
    rewrite: (line, ctx) => ([82, 86, 89].includes(ctx.cycle) && /G8[269](?![\d.])/.test(line) && !new RegExp(`P${NUM}`).test(line) ? `${line} P0` : line) },
  { name: 'spindle and coolant together',
    differs: 'M13 and M14 (spindle on with coolant) are no rs274 codes: M3 M8 and M4 M8',
    applies: () => true,
    rewrite: (line) => line.replace(/M0*13(?!\d)/g, 'M3 M8').replace(/M0*14(?!\d)/g, 'M4 M8') },
];

// The modal state the rewrites need, followed line by line.
function follow(ctx, line, desc) {
  for (const m of line.matchAll(/G(\d+(?:\.\d+)?)/g)) {
    const g = parseFloat(m[1]);
    if (desc.unitCodes[g]) ctx.units = desc.unitCodes[g];
    if (desc.cycles[g] !== undefined) { ctx.cycle = g; ctx.motionCancelled = false; }
    if (g === desc.cycleCancel || [0, 1, 2, 3].includes(g)) ctx.cycle = 0;
    if ([0, 1, 2, 3].includes(g)) { ctx.motion = g; ctx.motionCancelled = false; }
    if (g === desc.cycleCancel) ctx.motionCancelled = true;
  }
}

function translate(desc, tape) {
  const ctx = { units: desc.defaultUnits || 'mm', cycle: 0, motion: 0, motionCancelled: false };
  const rules = DIALECT.filter((r) => r.applies(desc));
  const out = [];
  tape.split(/\r?\n/).forEach((raw, i) => {
    let line = raw.replace(/\([^)]*\)/g, ' ').toUpperCase();
    follow(ctx, line, desc);
    for (const r of rules) line = r.rewrite(line, ctx, desc);
    line = line.trim();
    // The tape's line number as the block number: each canonical call names
    // the line it came from.
    if (line) out.push(`N${i + 1} ${line}`);
  });
  return out.join('\n') + '\nM2\n';
}

function setupFiles(dir) {
  const tools = [];
  for (let t = 1; t <= 99; t++) tools.push(`T${t} P${t} Z0 D0 ;`);
  fs.writeFileSync(path.join(dir, 'tools.tbl'), tools.join('\n') + '\n');
  const vars = [];
  for (const base of [5161, 5181]) REFERENCE_POINT.forEach((v, k) => vars.push(`${base + k}\t${v}`));
  fs.writeFileSync(path.join(dir, 'params.var'), vars.join('\n') + '\n');
}

const args = (s) => s.split(',').map((v) => parseFloat(v));

// `start`: where the machine stands when the tape begins (a tape after a
// split begins where the one before left it), in millimetres; rs274 is
// brought there by a rapid on line 0 ahead of the tape, which is no step of
// the tape's own. The steps carry `endPosition`, where the tape leaves it.
function traceRs274(desc, tape, rs274, start) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvrs274-'));
  try {
    setupFiles(dir);
    const known = start && start.every((v) => Number.isFinite(v));
    const ngc = (known ? `N0 G21 G90 G0 X${start[0].toFixed(4)} Y${start[1].toFixed(4)} Z${start[2].toFixed(4)}\n` : '')
      + translate(desc, tape);
    fs.writeFileSync(path.join(dir, 'tape.ngc'), ngc);
    // rs274 maps its tool table into a file in the home folder: each run has
    // a home of its own, so that runs side by side keep their own tools.
    const env = { ...process.env, HOME: dir, LC_ALL: 'C' };
    const run = spawnSync(rs274, ['-g', '-t', 'tools.tbl', '-v', 'params.var', 'tape.ngc', 'canon.txt'],
      { cwd: dir, env, stdio: ['ignore', 'pipe', 'pipe'], encoding: 'latin1', timeout: 60000 });
    if (run.error) return [{ type: 'problem', text: `rs274 did not run: ${run.error.message}`, line: 0 }];
    const canon = fs.existsSync(path.join(dir, 'canon.txt')) ? fs.readFileSync(path.join(dir, 'canon.txt'), 'latin1') : '';
    const all = readCanon(desc, ngc, canon);
    const steps = all.filter((st) => !(known && st.line === 0 && st.type !== 'problem'));
    steps.endPosition = all.endPosition;
    const err = (run.stderr || '').split('\n').map((l) => l.trim()).filter((l) => l && l !== 'executing');
    if (run.status !== 0 || err.length) {
      const at = err.map((l) => l.match(/^N(\d+)\b/)).find(Boolean);
      const end = steps.findIndex((s) => s.type === 'end');
      const problem = { type: 'problem', text: `rs274: ${err.filter((l) => !/^N\d+\b/.test(l)).join('; ') || 'exit ' + run.status}`, line: at ? +at[1] : 0 };
      if (end >= 0) steps.splice(end, 0, problem);
      else steps.push(problem);
    }
    return steps;
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// The canonical calls as steps. Calls are grouped by the tape line that made
// them: a canned cycle's calls become one hole, a reference return's last
// traverse the reference point.
function readCanon(desc, ngc, canon) {
  const lineText = new Map();
  for (const l of ngc.split('\n')) {
    const m = l.match(/^N(\d+) (.*)$/);
    if (m) lineText.set(+m[1], m[2]);
  }
  const calls = [];
  for (const l of canon.split('\n')) {
    const m = l.match(/^\s*\d+\s+N(\d+|\.+)\s+(\w+)\((.*)\)\s*$/);
    if (m && /^\d+$/.test(m[1])) calls.push({ line: +m[1], name: m[2], args: m[3] });
  }
  const steps = [];
  let scale = 1;
  let plane = 'xy';
  let feed = null;
  let perRev = false;    // SET_FEED_MODE: units per revolution
  let spindle = { sense: 'unknown', rpm: 0 };
  const perMinute = () => (feed === null || !perRev ? feed : feed * spindle.rpm);
  let pos = [NaN, NaN, NaN];
  let cycle = 0;
  const move = (motion, to, line, extra = {}) => {
    steps.push({ type: 'move', motion, from: pos.slice(), to: to.slice(), plane, feed: perMinute(), spindle, line, ...extra });
    pos = to.slice();
  };
  for (let k = 0; k < calls.length;) {
    const line = calls[k].line;
    const group = [];
    while (k < calls.length && calls[k].line === line) group.push(calls[k++]);
    const text = lineText.get(line) || '';
    for (const m of text.matchAll(/G(\d+(?:\.\d+)?)/g)) {
      const g = parseFloat(m[1]);
      if (desc.cycles[g] !== undefined) cycle = g;
      if (g === desc.cycleCancel || [0, 1, 2, 3].includes(g)) cycle = 0;
    }
    const home = /G(28|30)(?![\d.])/.test(text);
    const moves = group.filter((c) => /^(STRAIGHT_TRAVERSE|STRAIGHT_FEED|ARC_FEED)$/.test(c.name));
    const hole = cycle && moves.some((c) => c.name === 'STRAIGHT_FEED');
    const start = pos.slice();
    let holeCalls = [];
    for (const c of group) {
      if (c.name === 'USE_LENGTH_UNITS') {
        scale = /INCH/.test(c.args) ? 25.4 : 1;
        steps.push({ type: 'units', units: scale === 1 ? 'mm' : 'in', line });
      } else if (c.name === 'SELECT_PLANE') {
        plane = /XZ/.test(c.args) ? 'zx' : /YZ/.test(c.args) ? 'yz' : 'xy';
      } else if (c.name === 'SET_FEED_RATE') {
        feed = args(c.args)[0] * scale;
      } else if (c.name === 'SET_FEED_MODE') {
        perRev = args(c.args)[1] === 1;
      } else if (c.name === 'SET_SPINDLE_SPEED') {
        spindle = { ...spindle, rpm: Math.abs(args(c.args)[1]) };
      } else if (c.name === 'START_SPINDLE_CLOCKWISE' || c.name === 'START_SPINDLE_COUNTERCLOCKWISE') {
        spindle = { ...spindle, sense: c.name === 'START_SPINDLE_CLOCKWISE' ? 'cw' : 'ccw' };
      } else if (c.name === 'STOP_SPINDLE_TURNING') {
        spindle = { ...spindle, sense: 'off' };
      } else if (c.name === 'CHANGE_TOOL') {
        steps.push({ type: 'tool', tool: args(c.args)[0], line });
      } else if (c.name === 'SELECT_TOOL') {
        // A controller without a change code changes the tool on its word.
        steps.push({ type: desc.toolChange ? 'select' : 'tool', tool: args(c.args)[0], line });
      } else if (c.name === 'USE_TOOL_LENGTH_OFFSET' && /G43/.test(text)) {
        steps.push({ type: 'tlo', line });
      } else if (c.name === 'PROGRAM_END') {
        steps.push({ type: 'end', line });
      } else if (hole && /^STRAIGHT_/.test(c.name)) {
        holeCalls.push(c);
      } else if (c.name === 'STRAIGHT_TRAVERSE' || c.name === 'STRAIGHT_FEED') {
        const to = args(c.args).slice(0, 3).map((v) => v * scale);
        if (home && c === moves[moves.length - 1]) {
          steps.push({ type: 'home', axes: [], line });
          pos = to.slice();
        } else {
          move(c.name === 'STRAIGHT_TRAVERSE' ? 'G0' : 'G1', to, line);
        }
      } else if (c.name === 'ARC_FEED') {
        const a = args(c.args).map((v, i) => (i === 4 ? v : v * scale));
        // The plane's first and second axes, then the axis across it.
        const order = { xy: [0, 1, 2], yz: [1, 2, 0], zx: [2, 0, 1] }[plane];
        const to = [0, 0, 0];
        const centre = pos.slice();
        to[order[0]] = a[0]; to[order[1]] = a[1]; to[order[2]] = a[5];
        centre[order[0]] = a[2]; centre[order[1]] = a[3];
        const turns = a[4];
        // rs274 gives whole turns beyond the first in `rotation`.
        const extra = Math.max(0, Math.abs(turns) - 1);
        const sweep = sweepOf(pos, to, centre, order, turns > 0) + 360 * extra;
        move(turns > 0 ? 'G3' : 'G2', to, line, { centre, sweep });
      }
    }
    if (holeCalls.length) {
      // Positioning at the initial level, down to the R plane, the feeds
      // down to the bottom, and back.
      const pts = holeCalls.map((c) => ({ rapid: c.name === 'STRAIGHT_TRAVERSE', to: args(c.args).slice(0, 3).map((v) => v * scale) }));
      let i = 0;
      while (i < pts.length && pts[i].rapid && Math.abs(pts[i].to[2] - start[2]) < 1e-6) {
        move('G0', pts[i].to, line);
        i++;
      }
      const at = pts[Math.min(i, pts.length - 1)].to;
      const firstFeed = pts.findIndex((p) => !p.rapid);
      const r = i < firstFeed ? pts[i].to[2] : pos[2];
      const bottom = Math.min(...pts.filter((p) => !p.rapid).map((p) => p.to[2]));
      const kind = desc.cycles[cycle];
      const peck = kind === 'peck' ? r - pts[firstFeed].to[2] : null;
      steps.push({ type: 'hole', at: [at[0], at[1]], bottom, r, kind, g: cycle, peck, feed: perMinute(), spindle, initial: pos[2], line });
      pos = pts[pts.length - 1].to.slice();
    }
  }
  steps.endPosition = pos;
  return steps;
}

function sweepOf(from, to, centre, order, ccw) {
  const [p, q] = order;
  const a0 = Math.atan2(from[q] - centre[q], from[p] - centre[p]);
  const a1 = Math.atan2(to[q] - centre[q], to[p] - centre[p]);
  let t = (a1 - a0) * 180 / Math.PI;
  if (!ccw) t = -t;
  while (t <= 1e-6) t += 360;
  return t;
}

module.exports = { traceRs274, translate, DIALECT };
