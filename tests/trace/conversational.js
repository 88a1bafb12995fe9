'use strict';
// Reads a Heidenhain plain-language program (BEGIN PGM, TOOL CALL, L, CC, C,
// CP, CYCL DEF, CYCL CALL, END PGM) the way the control reads it, giving the
// same steps as the ISO reader:
//   - block numbers lead each line; numbers may carry a decimal point or
//     comma and are millimetres or inches as BEGIN PGM says;
//   - X+10 is a coordinate, IX+10 an increment; FMAX is a rapid for its own
//     block, F a modal feed;
//   - CC sets the circle centre by two coordinates, which also name the
//     arc's plane; C goes to its end point about it, DR+ turning positively
//     about the plane's normal (+Z for X/Y, +Y for Z/X, +X for Y/Z), DR-
//     the other way; C with a third coordinate is a helix; CP turns by IPA
//     degrees with an increment along the normal;
//   - CYCL DEF 1 (pecking: 1.1 SET UP, 1.2 DEPTH, 1.3 PECKG, 1.5 F) and
//     2 (tapping: 2.1 SET UP, 2.2 DEPTH, 2.4 F) start at the position where
//     they are called: set-up clearance above the surface, depth below it;
//     CYCL DEF 200.. take Q parameters (Q200 set-up, Q201 depth, Q202 peck,
//     Q203 surface, Q206 feed). CYCL CALL or M99 drills at the position.
//   - TOOL CALL n changes the tool; STOP M02, M30 or END PGM end it.

const MM = { MM: 1, INCH: 25.4 };
const NORMAL = { xy: 2, zx: 1, yz: 0 };

function num(t) { return parseFloat(t.replace(',', '.')); }

// `start`: where the machine stands when the tape begins, unknown when not
// given; the steps carry `endPosition`, where the tape leaves it.
function traceConversational(desc, tape, start) {
  const steps = [];
  let units = 1;
  let pos = start ? start.slice() : [NaN, NaN, NaN];
  let feed = null;
  // The spindle: the speed of the last TOOL CALL, the sense of the last M3,
  // M4 or M5 (M3 and M4 act at the start of their block, M5 at its end).
  let spindle = { sense: 'unknown', rpm: 0 };
  let cc = null;          // { c: [x, y, z], plane }
  let cycle = null;
  const step = (s) => steps.push(s);

  tape.split(/\r?\n/).forEach((raw, i) => {
    const line = i + 1;
    const t = raw.trim().replace(/^\d+\s+/, '').toUpperCase();
    if (!t) return;
    let m;
    if ((m = t.match(/^BEGIN PGM\s+\S+\s+(MM|INCH)\b/))) { units = MM[m[1]]; return; }
    if (/^BEGIN PGM/.test(t)) { step({ type: 'problem', text: `BEGIN PGM without a program name and units: "${raw.trim()}"`, line }); return; }
    if (/^END PGM/.test(t)) { step({ type: 'end', line }); return; }
    if ((m = t.match(/^TOOL CALL\s+(\d+)/))) {
      const speed = t.match(/\bS\s*([\d.,]+)/);
      if (speed) spindle = { ...spindle, rpm: num(speed[1]) };
      step({ type: 'tool', tool: +m[1], line }); step({ type: 'tlo', line }); return;
    }
    if (/^TOOL DEF/.test(t)) return;
    if ((m = t.match(/^CYCL DEF\s+(\d+)(?:\.(\d+))?\s*(.*)$/))) {
      const [, no, sub, rest] = m;
      if (sub === undefined || sub === '0') { cycle = { no: +no, p: {} }; q(rest, cycle); return; }
      if (!cycle || cycle.no !== +no) { step({ type: 'problem', text: `cycle parameter without its CYCL DEF ${no}.0`, line }); return; }
      const v = rest.match(/(SET UP|DEPTH|PECKG|DWELL|F)\s*([+-]?[\d.,]+)/);
      if (v) cycle.p[v[1]] = num(v[2]);
      else step({ type: 'problem', text: `unreadable cycle parameter "${raw.trim()}"`, line });
      return;
    }
    if (cycle && /^Q\d{3}/.test(t)) { q(t, cycle); return; }
    if (/^CYCL CALL/.test(t)) { hole(line); return; }

    if ((m = t.match(/^(L|CC|C|CP)\b(.*)$/))) {
      const kind = m[1];
      const body = m[2];
      const w = {};
      const inc = {};
      for (const a of body.matchAll(/(I?)([XYZ])\s*([+-]?[\d.,]+)/g)) {
        const k = 'XYZ'.indexOf(a[2]);
        w[k] = num(a[3]) * units;
        inc[k] = a[1] === 'I';
      }
      const at = (base) => base.map((v, k) => (w[k] === undefined ? v : inc[k] ? v + w[k] : w[k]));
      const mcode = body.match(/\bM([345])\b/);
      if (mcode && mcode[1] !== '5') spindle = { ...spindle, sense: mcode[1] === '3' ? 'cw' : 'ccw' };
      const fm = body.match(/\bF\s*([+-]?[\d.,]+)/);
      const rapid = /\bFMAX\b/.test(body);
      if (fm) feed = num(fm[1]) * units;
      if (kind === 'CC') {
        const axes = Object.keys(w).map(Number).sort();
        const plane = axes.length === 2 ? ({ '0,1': 'xy', '0,2': 'zx', '1,2': 'yz' }[axes.join(',')]) : null;
        if (!plane) { step({ type: 'problem', text: `CC without two coordinates: "${raw.trim()}"`, line }); return; }
        cc = { c: at(pos), plane };
      } else if (kind === 'L') {
        const to = at(pos);
        if (Object.keys(w).length) {
          step({ type: 'move', motion: rapid ? 'G0' : 'G1', from: pos, to, feed, spindle, line });
          pos = to;
        }
      } else {
        if (!cc) { step({ type: 'problem', text: 'circle without a centre (CC)', line }); return; }
        const dr = body.match(/DR\s*([+-])/);
        if (!dr) { step({ type: 'problem', text: `circle without its sense (DR+ or DR-): "${raw.trim()}"`, line }); return; }
        let to;
        let sweep;
        if (kind === 'CP') {
          const pa = body.match(/IPA\s*([+-]?[\d.,]+)/);
          if (!pa) { step({ type: 'problem', text: 'CP without IPA', line }); return; }
          const n = NORMAL[cc.plane];
          const [a, b] = [0, 1, 2].filter((k) => k !== n);
          const ipa = num(pa[1]);
          const ang = ipa * Math.PI / 180;
          sweep = Math.abs(ipa);
          to = pos.slice();
          const [p0, p1] = cc.plane === 'zx' ? [b, a] : [a, b];  // Z/X turns from Z towards X
          const u0 = pos[p0] - cc.c[p0];
          const u1 = pos[p1] - cc.c[p1];
          to[p0] = cc.c[p0] + u0 * Math.cos(ang) - u1 * Math.sin(ang);
          to[p1] = cc.c[p1] + u0 * Math.sin(ang) + u1 * Math.cos(ang);
          if (w[n] !== undefined) to[n] = inc[n] ? pos[n] + w[n] : w[n];
        } else {
          to = at(pos);
        }
        step({ type: 'move', motion: dr[1] === '+' ? 'G3' : 'G2', plane: cc.plane, from: pos, to, centre: cc.c.slice(), feed, spindle, line,
          ...(kind === 'CP' ? { sweep } : {}) });
        pos = to;
      }
      if (/\bM99\b/.test(body)) hole(line);
      if (mcode && mcode[1] === '5') spindle = { ...spindle, sense: 'off' };
      if (/\bM(30|02|2)\b/.test(body)) step({ type: 'end', line });
      return;
    }
    if (/^STOP\b/.test(t) || /^M\d+/.test(t)) {
      if (/\bM(30|02|2)\b/.test(t)) step({ type: 'end', line });
      return;
    }
    step({ type: 'problem', text: `unreadable block "${raw.trim()}"`, line });
  });

  function q(text, c) {
    for (const a of text.matchAll(/Q(\d{3})\s*=\s*([+-]?[\d.,]+)/g)) c.p['Q' + a[1]] = num(a[2]);
  }

  function hole(line) {
    if (!cycle) { step({ type: 'problem', text: 'cycle call without a cycle', line }); return; }
    const p = cycle.p;
    const kinds = { 1: 'peck', 2: 'tap', 17: 'tap', 200: 'drill', 201: 'bore', 202: 'bore', 203: 'peck', 205: 'peck', 206: 'tap', 207: 'tap' };
    let kind = kinds[cycle.no] || 'unknown';
    let r; let bottom; let peck = null; let f = feed; let back;
    if (cycle.no >= 200) {
      const top = p.Q203 * units;
      r = top + Math.abs(p.Q200 || 0) * units;
      bottom = top - Math.abs(p.Q201 || 0) * units;
      if (p.Q202 !== undefined && Math.abs(p.Q202) < Math.abs(p.Q201 || 0)) peck = Math.abs(p.Q202) * units;
      else if (kind === 'peck' || cycle.no === 200) kind = 'drill';
      if (p.Q206 !== undefined) f = p.Q206 * units;
      back = top + Math.abs(p.Q204 || p.Q200 || 0) * units;
    } else {
      r = pos[2];
      bottom = pos[2] - Math.abs(p['SET UP'] || 0) * units - Math.abs(p.DEPTH || 0) * units;
      if (cycle.no === 1) {
        if (p.PECKG !== undefined && Math.abs(p.PECKG) < Math.abs(p.DEPTH || 0)) peck = Math.abs(p.PECKG) * units;
        else kind = 'drill';
      }
      if (p.F !== undefined) f = p.F * units;
      back = pos[2];
    }
    step({ type: 'hole', at: [pos[0], pos[1]], bottom, r, kind, g: 'CYCL ' + cycle.no, peck, feed: f, spindle, initial: pos[2], line });
    pos = [pos[0], pos[1], back];
  }

  const out = steps.map((s) => (s.from ? { ...s, from: { x: s.from[0], y: s.from[1], z: s.from[2] }, to: { x: s.to[0], y: s.to[1], z: s.to[2] },
    ...(s.centre ? { centre: { x: s.centre[0], y: s.centre[1], z: s.centre[2] } } : {}) } : s));
  out.endPosition = pos;
  return out;
}

module.exports = { traceConversational };
