'use strict';
// Reads an ISO G-code tape the way the controller that a description names
// reads it, and traces its motion with gcode-toolpath. gcode-toolpath
// attaches every word to the last G or M word before it and knows no canned
// cycle, no reference return and no implied decimals, so each block is first
// read here (numbers, modal codes, cycles, reference returns, tool words)
// and its motion handed to gcode-toolpath as short blocks of their own:
// mode codes first, then one motion word with its axis and centre words.
//
// The result is a list of steps in tape order:
//   { type: 'move', motion: 'G0'|'G1'|'G2'|'G3', from, to, centre, plane,
//     feed, lean, line }                     (millimetres; lean: a taper
//                                            head's upper guide offset)
//   { type: 'home', axes, line }             a reference return
//   { type: 'hole', at, bottom, r, kind, peck, feed, line }
//   { type: 'tool', tool, line }             a tool change completed
//   { type: 'select', tool, line }           a tool word without the change
//   { type: 'end', line }                    the program end
//   { type: 'problem', text, line }          a block the reader cannot take

const Toolpath = require('gcode-toolpath');

const AXES = ['x', 'y', 'z'];
const MM = { mm: 1, in: 25.4 };

const NUM = '[+-]?(?:\\d+\\.?\\d*|\\.\\d+)';

// Parameter forms some dialects write besides plain words: Siemens R
// parameters (R2=-10), Heidenhain cycle parameters (P01 2, Q201=-10) and
// addresses of two letters (NUM's ER).
function parameters(block, desc) {
  const params = {};
  let text = block;
  if (desc.rParameters) text = text.replace(new RegExp(`\\bR(\\d+)\\s*=\\s*(${NUM})`, 'g'), (m, n, v) => { params['R' + +n] = parseFloat(v); return ' '; });
  if (desc.cycleStyle === 'heidenhain') {
    text = text.replace(new RegExp(`\\bP(\\d\\d)\\s+(${NUM})`, 'g'), (m, n, v) => { params['P' + +n] = parseFloat(v); return ' '; });
    text = text.replace(new RegExp(`\\bQ(\\d{3})\\s*=?\\s*(${NUM})`, 'g'), (m, n, v) => { params['Q' + +n] = parseFloat(v); return ' '; });
  }
  for (const a of desc.multiLetter || []) {
    text = text.replace(new RegExp(`${a}\\s*(${NUM})`, 'g'), (m, v) => { params[a] = v; return ' '; });
  }
  return { text, params };
}

function tokenize(block) {
  const words = [];
  const rest = block.replace(/([A-Z])\s*([+-]?(?:\d+\.?\d*|\.\d+))/g, (m, l, v) => {
    words.push({ letter: l, text: v });
    return ' ';
  });
  return { words, rest: rest.trim() };
}

class IsoReader {
  // `start`: where the machine stands when the tape begins (a tape after a
  // split begins where the one before left it), unknown when not given.
  constructor(desc, start) {
    this.d = desc;
    this.steps = [];
    this.units = desc.defaultUnits || 'mm';
    this.abs = true;
    this.plane = desc.defaultPlane || 'xy';
    this.motion = desc.initialMotion || 'G0'; // the power-on motion mode
    this.feed = null;        // the F word in millimetres, as the feed mode reads it
    this.perRev = false;     // the feed mode: per revolution (G95 on a mill)
    this.spindle = { sense: 'unknown', rpm: 0 };
    this.cycle = null;       // the modal canned cycle: { kind, g, z, r, q, initial, ret }
    this.returnLevel = 'initial';
    this.pending = [];       // segments reported by gcode-toolpath for the current block
    this.lean = [0, 0];      // a taper head: the upper wire guide's X and Y offset (mm)
    this.toolpath = new Toolpath({
      position: start ? pt(start) : { x: NaN, y: NaN, z: NaN },
      modal: { plane: { xy: 'G17', zx: 'G18', yz: 'G19' }[this.plane] },
      addLine: (modal, v1, v2) => this.pending.push({ motion: modal.motion, from: v1, to: v2 }),
      addArcCurve: (modal, v1, v2, v0) => this.pending.push({ motion: modal.motion, plane: modal.plane, from: v1, to: v2, centre: v0 }),
    });
  }

  feedLine(text) { this.toolpath.loadFromStringSync(text); }

  position() { const p = this.toolpath.getPosition(); return [p.x, p.y, p.z]; }

  // A number as the controller reads it: with a point as written; without
  // one in least increments for the letters that take lengths.
  value(letter, text) {
    if (text.includes('.')) return parseFloat(text);
    const n = parseInt(text, 10);
    const d = this.d;
    if (!d.lengthLetters.includes(letter)) return n;
    const dec = d.implied[this.units];
    if (d.zeros === 'trailing') {
      const digits = text.replace(/^[+-]/, '');
      const sign = text.startsWith('-') ? -1 : 1;
      return sign * parseInt(digits, 10) * 10 ** (d.digitsBefore[this.units] - digits.length);
    }
    return n / 10 ** dec;
  }

  step(s) { this.steps.push(s); }

  // A feed as a length a minute: per revolution at the spindle speed.
  perMinute(f) { return f === null || f === undefined || !this.perRev ? f : f * this.spindle.rpm; }

  read(tape) {
    const lines = tape.split(/\r?\n/);
    lines.forEach((raw, i) => this.block(raw, i + 1));
    return this.steps;
  }

  block(raw, line) {
    const d = this.d;
    let text = raw.replace(/\([^)]*\)/g, ' ');
    if (d.comment) text = text.replace(d.comment, ' ');
    text = text.toUpperCase();
    if (!text.trim()) return;
    if (d.skipLine && d.skipLine.test(text.trim())) return;
    const pre = parameters(text, d);
    const { words, rest } = tokenize(pre.text);
    if (rest && !(d.ignoreText && d.ignoreText.test(rest))) {
      this.step({ type: 'problem', text: `unreadable "${rest}" in "${raw.trim()}"`, line });
    }
    const g = [];
    const m = [];
    const w = {};
    for (const t of words) {
      if (t.letter === 'G') g.push(parseFloat(t.text));
      else if (t.letter === 'M') m.push(parseInt(t.text, 10));
      else w[t.letter] = this.value(t.letter, t.text);
    }
    for (const [k, v] of Object.entries(pre.params)) w[k] = typeof v === 'string' ? this.value('X', v) : v;
    const has = (...l) => l.some((k) => w[k] !== undefined);

    // Modal codes first.
    for (const code of g) {
      if (d.unitCodes[code]) {
        this.units = d.unitCodes[code];
        this.feedLine(this.units === 'in' ? 'G20' : 'G21');
        this.step({ type: 'units', units: this.units, line });
      }
      if (code === d.absolute) { this.abs = true; this.feedLine('G90'); }
      if (code === d.incremental) { this.abs = false; this.feedLine('G91'); }
      if (d.planes[code]) { this.plane = d.planes[code]; this.feedLine({ xy: 'G17', zx: 'G18', yz: 'G19' }[this.plane]); }
      if (d.returnCodes && d.returnCodes[code]) this.returnLevel = d.returnCodes[code];
    }
    if (d.tlo !== undefined && g.includes(d.tlo)) this.step({ type: 'tlo', line });
    if (w.F !== undefined) this.feed = w.F * (d.feedScale || 1) * MM[this.units];
    // Feed mode and spindle: G94/G95 (the lathe's G98/G99), S, M3 M4 M5.
    const modes = d.feedModes || { 94: 'min', 95: 'rev' };
    for (const code of g) if (modes[code]) this.perRev = modes[code] === 'rev';
    if (w.S !== undefined) this.spindle = { ...this.spindle, rpm: Math.abs(w.S) };
    const senses = d.spindleCodes || { 3: 'cw', 4: 'ccw', 5: 'off', 13: 'cw', 14: 'ccw' };
    for (const c of m) if (senses[c]) this.spindle = { ...this.spindle, sense: senses[c] };
    if (d.taper) {
      d.taper.words.forEach((letter, i) => {
        if (w[letter] === undefined) return;
        const v = w[letter] * MM[this.units];
        this.lean[i] = d.taper.increments ? this.lean[i] + v : v;
      });
    }

    // Tool words: a tool change completes with the change code, or at once
    // where the controller changes tools on the tool word.
    if (w.T !== undefined) {
      const t = d.toolNumber ? d.toolNumber(w.T) : w.T;
      this.selected = t;
      if (!d.toolChange || m.some((c) => d.toolChange.includes(c))) this.step({ type: 'tool', tool: t, line });
      else this.step({ type: 'select', tool: t, line });
    } else if (d.toolChange && m.some((c) => d.toolChange.includes(c))) {
      this.step({ type: 'tool', tool: this.selected, line });
    }

    const style = d.cycleStyle || 'iso';
    const modalCycles = style === 'iso' || style === 'fagor' || style === 'num';
    const dwell = g.some((c) => d.dwellCodes.includes(c));
    const home = g.find((c) => d.referenceCodes.includes(c));
    const setPos = g.includes(d.setPosition);
    const cycleG = g.find((c) => d.cycles[c] !== undefined);
    const motionG = g.filter((c) => [0, 1, 2, 3].includes(c)).pop();
    if (modalCycles && (g.includes(d.cycleCancel) || motionG !== undefined)) this.cycle = null;
    if (g.includes(d.cycleCancel) && motionG === undefined && has(...d.axisLetters)) {
      this.step({ type: 'problem', text: `axis words under the cycle cancel G${d.cycleCancel}`, line });
    }
    if (motionG !== undefined) this.motion = 'G' + motionG;
    if (style === 'siemens') this.params = { ...this.params, ...pre.params };

    if (dwell) {
      // The dwell's time word is no axis move.
    } else if (home !== undefined) {
      this.referenceReturn(w, line);
    } else if (setPos) {
      const p = this.position();
      const mm = MM[this.units];
      const axes = this.axisWords(w);
      this.toolpath.setPosition(axes.x !== undefined ? axes.x * mm : p[0], axes.y !== undefined ? axes.y * mm : p[1],
        axes.z !== undefined ? axes.z * mm : p[2]);
    } else if (modalCycles && cycleG !== undefined) {
      const p = this.position();
      this.cycle = { kind: d.cycles[cycleG], g: cycleG, initial: p[2] };
      this.cycleBlock(w, line, true);
    } else if (modalCycles && this.cycle) {
      if (has('X', 'Y', 'Z', 'R', 'I', ...Object.keys(pre.params))) this.cycleBlock(w, line, false);
    } else {
      // Cycles defined here and called at the position reached: Heidenhain's
      // G83/G200.. with G79 or M99, Sinumerik's R parameters with L81..L89.
      if (style === 'heidenhain' && cycleG !== undefined) this.cycleDef = { kind: d.cycles[cycleG], g: cycleG, p: pre.params, feed: this.feed };
      if (has(...d.axisLetters)) this.motionBlock(w, line);
      if (style === 'heidenhain' && (g.includes(79) || m.includes(99))) this.calledCycle(line);
      if (style === 'siemens' && w.L !== undefined && d.cycles[w.L] !== undefined) this.calledCycle(line, w.L);
    }

    for (const c of m) if (d.programEnd.includes(c)) this.step({ type: 'end', line });
  }

  // A hole of a cycle that is called at the current position.
  calledCycle(line, call) {
    const p = this.position();
    const u = MM[this.units];
    let hole;
    if (this.d.cycleStyle === 'siemens') {
      const r = this.params || {};
      const kind = this.d.cycles[call];
      const peck = kind === 'peck' && r.R5 !== undefined ? Math.abs(r.R5) * u : null;
      hole = { kind, g: 'L' + call, r: r.R2 * u, bottom: r.R3 * u, peck, back: r.R10 * u };
    } else {
      const c = this.cycleDef;
      if (!c) { this.step({ type: 'problem', text: 'cycle call without a cycle definition', line }); return; }
      const q = c.p;
      if (q.Q203 !== undefined) {
        // G200..: surface coordinate, set-up clearance above it, depth below it.
        const top = q.Q203 * u;
        hole = { kind: c.kind, g: c.g, r: top + Math.abs(q.Q200 || 0) * u, bottom: top - Math.abs(q.Q201 || 0) * u,
          peck: q.Q202 !== undefined && c.kind === 'peck' ? Math.abs(q.Q202) * u : null, back: top + Math.abs(q.Q204 || q.Q200 || 0) * u };
      } else {
        // G83, G84..: the tool stands at the set-up clearance above the surface.
        const top = p[2] - Math.abs(q.P1 || 0) * u;
        hole = { kind: c.kind, g: c.g, r: p[2], bottom: top - Math.abs(q.P2 || 0) * u,
          peck: c.kind === 'peck' && q.P3 !== undefined ? Math.abs(q.P3) * u : null, back: p[2] };
      }
      const fk = { 83: 'P5', 84: 'P4', 200: 'Q206', 201: 'Q206', 202: 'Q206', 203: 'Q206', 205: 'Q206', 206: 'Q206', 207: 'Q206' }[c.g];
      if (fk && q[fk] !== undefined) hole.feed = q[fk] * u;
    }
    this.step({ type: 'hole', at: [p[0], p[1]], bottom: hole.bottom, r: hole.r, kind: hole.kind, g: hole.g, peck: hole.peck,
      feed: this.perMinute(hole.feed !== undefined ? hole.feed : this.feed), spindle: this.spindle, initial: p[2], line });
    this.toolpath.setPosition(p[0], p[1], Number.isFinite(hole.back) ? hole.back : p[2]);
  }

  // Axis words in tape units, absolute or incremental as the mode says;
  // lathe diameters halved, U and W as increments of X and Z.
  axisWords(w) {
    const d = this.d;
    const out = {};
    const half = d.xDiameter ? 0.5 : 1;
    if (w.X !== undefined) out.x = w.X * half;
    if (w.Y !== undefined) out.y = w.Y;
    if (w.Z !== undefined) out.z = w.Z;
    if (d.kind === 'lathe') {
      const p = this.position();
      const u = MM[this.units];
      if (w.U !== undefined) out.x = p[0] / u + w.U * half;
      if (w.W !== undefined) out.z = p[2] / u + w.W;
    }
    return out;
  }

  motionBlock(w, line) {
    const motion = this.motion;
    if (!motion) { this.step({ type: 'problem', text: 'axis words with no motion code in force', line }); return; }
    const a = this.axisWords(w);
    const parts = [motion];
    const fmt = (v) => (Number.isFinite(v) ? String(+v.toFixed(6)) : 'NaN');
    if (a.x !== undefined) parts.push('X' + fmt(a.x));
    if (a.y !== undefined) parts.push('Y' + fmt(a.y));
    if (a.z !== undefined) parts.push('Z' + fmt(a.z));
    if (motion === 'G2' || motion === 'G3') {
      const c = this.centreWords(w, a);
      if (c === null) return;
      for (const [k, v] of Object.entries(c)) parts.push(k + fmt(v));
    }
    this.pending = [];
    this.feedLine(parts.join(' '));
    const byRadius = w.R !== undefined && (motion === 'G2' || motion === 'G3');
    for (const s of this.pending) {
      this.step({ type: 'move', ...s, plane: s.plane ? planeName(s.plane) : this.plane, feed: this.perMinute(this.feed), spindle: this.spindle, line, byRadius, lean: this.lean.slice(),
        ...(s.centre ? unmap(s, s.plane) : {}) });
    }
    this.pending = [];
  }

  // Centre words handed on as increments from the start (what gcode-toolpath
  // reads): absolute centres made incremental, radius words resolved with
  // the controller's sign rule where it is not the usual one.
  centreWords(w, a) {
    const d = this.d;
    const u = MM[this.units];
    const p = this.position().map((v) => v / u);
    const out = {};
    const idx = { I: 0, J: 1, K: 2 };
    if (w.R !== undefined && d.radiusWord) {
      if (d.rSign === 'iso') { out.R = w.R; return out; }
      this.step({ type: 'problem', text: 'radius words of this controller are not traced', line: 0 });
      return null;
    }
    for (const k of ['I', 'J', 'K']) {
      if (w[k] === undefined) continue;
      let v = w[k] * (k === 'I' && d.xDiameter && d.centreDiameter ? 0.5 : 1);
      if (d.centres === 'absolute' && this.abs) v -= p[idx[k]];
      out[k] = v;
    }
    if (d.centres === 'unsigned') {
      // Unsigned distances: the signs that put the centre as far from the
      // end as from the start.
      const ks = { xy: ['I', 'J'], zx: ['K', 'I'], yz: ['J', 'K'] }[this.plane];
      const end = [0, 1, 2].map((i) => { const v = a['xyz'[i]]; return v === undefined ? p[i] : this.abs ? v : p[i] + v; });
      let best = null;
      for (const s0 of [1, -1]) for (const s1 of [1, -1]) {
        const c = p.slice();
        const o = { ...out };
        o[ks[0]] = (out[ks[0]] || 0) * s0; o[ks[1]] = (out[ks[1]] || 0) * s1;
        for (const k of ks) c[idx[k]] += o[k];
        const dev = Math.abs(Math.hypot(...ks.map((k) => p[idx[k]] - c[idx[k]])) - Math.hypot(...ks.map((k) => end[idx[k]] - c[idx[k]])));
        if (!best || dev < best.dev) best = { dev, o };
      }
      return best.o;
    }
    return out;
  }

  referenceReturn(w, line) {
    const a = this.axisWords(w);
    const u = MM[this.units];
    const p = this.position();
    const axes = Object.keys(a);
    // The intermediate point, then the reference point: the axes named are
    // no longer at a programmed position.
    const via = p.slice();
    for (const k of axes) {
      const i = AXES.indexOf(k);
      via[i] = this.abs ? a[k] * u : p[i] + a[k] * u;
    }
    if (axes.some((k) => via[AXES.indexOf(k)] !== p[AXES.indexOf(k)])) {
      this.step({ type: 'move', motion: 'G0', from: pt(p), to: pt(via), plane: this.plane, feed: this.feed, line });
    }
    const home = via.slice();
    for (const k of axes) home[AXES.indexOf(k)] = NaN;
    this.toolpath.setPosition(home[0], home[1], home[2]);
    this.step({ type: 'home', axes, line });
  }

  // One hole of a canned cycle at the block's position: the position is
  // reached at the initial level, the depth and R plane taken from the
  // block or from the cycle's modal values.
  cycleBlock(w, line, first) {
    const d = this.d;
    const cyc = this.cycle;
    const u = MM[this.units];
    // Words of the cycle: the dialect's, or those of the cycle's own code
    // where a dialect reads one cycle with other words.
    const cw = (d.cycleWordsByCode && d.cycleWordsByCode[cyc.g]) || d.cycleWords;
    const style = d.cycleStyle || 'iso';
    if (w[cw.depth] !== undefined) cyc.z = w[cw.depth];
    if (w[cw.r] !== undefined) cyc.r = w[cw.r];
    if (cw.peck && w[cw.peck] !== undefined) cyc.q = w[cw.peck];
    if (cw.count && w[cw.count] !== undefined) cyc.n = w[cw.count];
    // The Z word of a cycle block gives one of its levels (the bottom, or
    // the R plane in Fagor's cycles), not a move.
    const a = this.axisWords(w);
    delete a.z;
    const p = this.position();
    const x = a.x !== undefined ? (this.abs ? a.x * u : p[0] + a.x * u) : p[0];
    const y = a.y !== undefined ? (this.abs ? a.y * u : p[1] + a.y * u) : p[1];
    const peckCount = style === 'fagor' && cyc.kind === 'peck' && !cw.depthIsBottom;
    if ((cyc.z === undefined && !peckCount) || cyc.r === undefined) {
      this.step({ type: 'problem', text: `cycle G${cyc.g} without ${cyc.r === undefined ? cw.r : cw.depth} word`, line });
      if (first && !(a.x !== undefined || a.y !== undefined)) return;
    }
    // Position at the initial level.
    if (x !== p[0] || y !== p[1]) {
      this.step({ type: 'move', motion: 'G0', from: pt(p), to: pt([x, y, p[2]]), plane: this.plane, feed: this.feed, line });
    }
    let r = cyc.r * u;
    let bottom = cyc.z * u;
    let peck = cyc.q !== undefined ? Math.abs(cyc.q) * u : null;
    if (!this.abs) { r = cyc.initial + cyc.r * u; bottom = r + cyc.z * u; }
    if (peckCount) { bottom = r - Math.abs(cyc.q || 0) * (cyc.n || 1) * u; }
    this.step({ type: 'hole', at: [x, y], bottom, r, kind: cyc.kind, g: cyc.g, peck, feed: this.perMinute(this.feed), spindle: this.spindle, initial: cyc.initial, line });
    const back = this.returnLevel === 'r' ? r : cyc.initial;
    this.toolpath.setPosition(x, y, Number.isFinite(back) ? back : NaN);
  }
}

function pt(a) { return { x: a[0], y: a[1], z: a[2] }; }
function planeName(g) { return { G17: 'xy', G18: 'zx', G19: 'yz' }[g]; }
// gcode-toolpath hands arcs over in the plane's own order (first plane axis,
// second, then the axis across it); back to x, y, z.
function unmap(s, plane) {
  const back = (v) => (plane === 'G18' ? { x: v.y, y: v.z, z: v.x } : plane === 'G19' ? { x: v.z, y: v.x, z: v.y } : { ...v });
  return { from: back(s.from), to: back(s.to), centre: back(s.centre) };
}

// The steps of one tape; `endPosition` where it leaves the machine.
function traceIso(desc, tape, start) {
  const reader = new IsoReader(desc, start);
  const steps = reader.read(tape);
  steps.endPosition = reader.position();
  return steps;
}

module.exports = { traceIso };
