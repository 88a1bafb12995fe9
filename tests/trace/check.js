'use strict';
// Compares what the cutfile asks for with the traced tape: every point
// reached in order, along a straight line at the given feed or by rapid
// moves that never dip below both ends; every arc about the cutfile's centre
// in its sense and plane, with its whole sweep; every hole at its position,
// bottom and R plane with the right kind of cycle (or, where the controller
// has no such cycle, cut by plain moves); every tool changed before its
// first move; a go home reached by rapid moves, or not written at all; the
// program ended. A job cut into several tapes is traced tape after tape:
// every tape cuts, and each new one returns to where the last one stopped
// without a rapid through the part and at no feed the cutfile did not give.

const { angleAbout } = require('./cutfile');

const AX = { mill: [0, 1, 2], lathe: [0, 2], wire: [0, 1] };

function arr(v) { return Array.isArray(v) ? v : [v.x, v.y, v.z]; }
function fmtP(p) { return '(' + arr(p).map((v) => (Number.isFinite(v) ? +v.toFixed(4) : '?')).join(', ') + ')'; }

function check(exp, steps, desc, tapeLines, tapeNames = ['job.tap']) {
  const kind = desc.kind;
  const axes = AX[kind];
  const res = desc.resolution || { mm: 0.001, in: 0.0001 };
  // Points compare within the output resolution (in millimetres), feeds within
  // half a unit of the feed word and a thousandth.
  const tol = Math.max(res.mm, res.in * 25.4) * 1.01 + 1e-9;
  const tolCentre = Math.max(tol * 2, 0.002);
  const tolR = 0.02;
  // A taper word's value within one of its least increments.
  const tolLean = desc.taper ? Math.max(desc.taper.step.mm, desc.taper.step.in * 25.4) * 1.01 : 0;
  const failures = [];
  const notes = new Set();
  let reached = 0;
  let total = 0;
  const lineText = (n) => (n > 0 && tapeLines[n - 1] !== undefined ? `line ${n} "${tapeLines[n - 1].trim()}"` : 'end of tape');
  const fail = (item, text, line) => failures.push({ rec: item ? item.rec : 0, text, where: line !== undefined ? lineText(line) : '' });
  const same = (a, b) => axes.every((i) => Number.isFinite(a[i]) && Math.abs(a[i] - b[i]) <= tol);
  const unknownAxes = (a) => axes.filter((i) => !Number.isFinite(a[i])).map((i) => 'XYZ'[i]);
  const feedOk = (got, want, tap) => {
    if (want === null || want === undefined) return true;
    if (got === null || got === undefined) return false;
    const t = Math.max(0.5 * (desc.feedStep || 1), 1e-3 * want);
    return Math.abs(got - want) <= t || (tap && Math.abs(got - 0.95 * want) <= t);
  };
  const feedText = (got, want) => `feed ${got === null ? 'none' : +got.toFixed(3)} where the cutfile has ${+want.toFixed(3)}`;
  // For a job that checks the spindle (exp.spindle): a feed move or hole of
  // the tape runs with the spindle turning in the cutfile's sense. Returns
  // the fault, or null.
  const spindleFault = (item, s) => {
    if (!exp.spindle || !item.spindle || item.spindle.sense === 'off') return null;
    const got = s.spindle ? s.spindle.sense : 'unknown';
    if (got === item.spindle.sense) return null;
    if (got === 'off') return `cut with the spindle stopped where the cutfile turns it ${item.spindle.sense}`;
    if (got === 'unknown') return 'cut before the tape starts the spindle';
    return `cut with the spindle turning ${got} where the cutfile turns it ${item.spindle.sense}`;
  };

  let si = 0;
  let cur = null;
  let pendingTool = null;
  let toolDone = false;
  let toolSelected = false;
  let tloDone = false;
  const problemsSeen = new Set();

  // Steps that may stand anywhere: tool words, length offsets, problems.
  function side(s, item) {
    if (s.type === 'tool') { if (pendingTool !== null && s.tool === pendingTool) toolDone = true; return true; }
    if (s.type === 'select') { if (pendingTool !== null && s.tool === pendingTool) toolSelected = true; return true; }
    if (s.type === 'tlo') { if (toolDone) tloDone = true; return true; }
    if (s.type === 'units') return true;
    if (s.type === 'problem') {
      if (!problemsSeen.has(s.line)) { problemsSeen.add(s.line); fail(item, s.text, s.line); }
      return true;
    }
    return false;
  }

  function toolCheck(item, line) {
    if (pendingTool === null) return;
    if (!toolDone) {
      fail(item, toolSelected ? `tool ${pendingTool} selected but never changed` : `tool ${pendingTool} is never called`, line);
    } else if (desc.tlo && !tloDone && kind === 'mill') {
      fail(item, `no tool length offset after the change to tool ${pendingTool}`, line);
    }
    pendingTool = null;
  }

  // Finds the first step from si, before the program end, that satisfies
  // `done`; returns the index after it, or -1.
  function walk(done) {
    for (let k = si; k < steps.length; k++) {
      const s = steps[k];
      if (s.type === 'end') return -1;
      if (done(s)) return k + 1;
    }
    return -1;
  }

  function onLine(p, a, b) {
    const d = axes.map((i) => b[i] - a[i]);
    const q = axes.map((i) => p[i] - a[i]);
    const ll = d.reduce((s, v) => s + v * v, 0);
    const t = ll > 0 ? d.reduce((s, v, i) => s + v * q[i], 0) / ll : 0;
    // Along the line as across it, a point may lie off by the output
    // resolution: an end point rounded to the tape's units may stop short
    // of the line's end or pass it.
    const slack = ll > 0 ? (tol * 1.5) / Math.sqrt(ll) : 0;
    if (t < -1e-6 - slack || t > 1 + 1e-6 + slack) return false;
    const dist = Math.sqrt(q.reduce((s, v, i) => s + (v - t * d[i]) ** 2, 0));
    return dist <= tol * 1.5;
  }

  function pointItem(item) {
    const target = item.p;
    const end = walk((s) => s.type === 'move' && same(arr(s.to), target));
    if (end < 0 && item.home) {
      // A control that writes no go home ("go home output" off) only takes
      // the home point over: the tool stays where it is.
      notes.add('go home not written');
      return;
    }
    total++;
    if (end < 0) {
      // The move that came nearest: the most axes at the point's values.
      let k = -1;
      let best = -1;
      for (let j = si; j < steps.length && j < si + 40; j++) {
        const s = steps[j];
        if (s.type === 'end') break;
        if (s.type !== 'move' || !arr(s.to).some(Number.isFinite)) continue;
        const score = axes.filter((i) => Number.isFinite(arr(s.to)[i]) && Math.abs(arr(s.to)[i] - target[i]) <= tol).length;
        if (score > best) { best = score; k = j; }
      }
      const next = k >= 0 ? steps[k] : null;
      const unknown = next ? unknownAxes(arr(next.to)) : [];
      const hint = next ? ` (the next move goes to ${fmtP(next.to)}${unknown.length ? '; ' + unknown.join('') + ' not known since a reference return or the tape start' : ''})` : '';
      fail(item, `${item.rapid ? 'rapid' : 'feed'} point ${fmtP(target)} never reached${hint}`, next ? next.line : undefined);
      // That move is taken as the tape's attempt at this point when it
      // agrees with it on every axis it knows, so one lost word is reported
      // once and not again at every later point.
      if (next && unknown.length && axes.every((i) => !Number.isFinite(arr(next.to)[i]) || Math.abs(arr(next.to)[i] - target[i]) <= tol)) {
        for (let j = si; j < k; j++) side(steps[j], item);
        si = k + 1;
      }
      cur = target;
      return;
    }
    const once = new Set();
    const f1 = (key, text, line) => { if (!once.has(key)) { once.add(key); fail(item, text, line); } };
    for (let k = si; k < end; k++) {
      const s = steps[k];
      if (side(s, item)) continue;
      if (s.type === 'hole') { f1('hole', `a hole is drilled at ${fmtP([...s.at, s.bottom])} where the cutfile has none`, s.line); continue; }
      if (s.type === 'home') { if (!item.rapid) f1('home', 'reference return inside a feed move', s.line); continue; }
      if (s.type !== 'move') continue;
      const from = arr(s.from);
      const to = arr(s.to);
      if (item.rapid) {
        if (s.motion !== 'G0') f1('motion', `rapid move to ${fmtP(target)} written as ${s.motion}`, s.line);
        if (kind === 'mill' && cur) {
          const low = Math.min(cur[2], target[2]) - tol;
          if (to[2] < low) f1('dip', `rapid move to ${fmtP(target)} goes down to Z${+to[2].toFixed(4)} on the way`, s.line);
        }
      } else {
        if (s.motion === 'G0') f1('motion', `feed move to ${fmtP(target)} written as a rapid`, s.line);
        else if (s.motion !== 'G1') f1('motion', `feed move to ${fmtP(target)} written as ${s.motion}`, s.line);
        if (cur && !(onLine(from, cur, target) && onLine(to, cur, target))) {
          f1('path', `feed move to ${fmtP(target)} leaves the line from ${fmtP(cur)}: ${fmtP(from)} to ${fmtP(to)}`, s.line);
        }
        if (!feedOk(s.feed, item.feed)) f1('feed', feedText(s.feed, item.feed), s.line);
        const sf = spindleFault(item, s);
        if (sf) f1('spindle', sf, s.line);
      }
    }
    // A taper head must lean the wire as the cutfile tilts it at the point.
    const last = steps[end - 1];
    if (desc.taper && item.lean && last.lean &&
        !item.lean.every((v, i) => Math.abs(last.lean[i] - v) <= tolLean)) {
      fail(item, `the wire leans ${fmtP(last.lean)} where the cutfile's leans ${fmtP(item.lean)}`, last.line);
    }
    si = end;
    reached++;
    toolCheck(item, last.line);
    cur = target;
  }

  function pieceSweep(s, sense, k) {
    if (s.sweep !== undefined) return s.sweep;
    const c = arr(s.centre);
    const u = arr(s.from).map((v, i) => v - c[i]);
    const v = arr(s.to).map((w, i) => w - c[i]);
    u[k] = 0; v[k] = 0;
    const n = [0, 0, 0]; n[k] = 1;
    let t = angleAbout(u, v, n);
    if (sense === 'cw') t = -t;
    if (t <= 1e-6) t += 360;
    return t;
  }

  function arcItem(item) {
    total++;
    const k = item.axisIndex;
    const wantG = item.sense === 'ccw' ? 'G3' : 'G2';
    const c = item.centre;
    const plane = [0, 1, 2].filter((i) => i !== k);
    const helix = Math.abs(item.p[k] - item.start[k]) > tol;
    let acc = 0;
    let lin = false;
    const once = new Set();
    const problems = [];
    const f1 = (key, text, line) => { if (!once.has(key)) { once.add(key); problems.push([text, line]); } };
    let prevAngle = null;
    const angleOf = (p) => {
      const u = [p[0] - c[0], p[1] - c[1], p[2] - c[2]]; u[k] = 0;
      const ref = [0, 0, 0]; ref[plane[0]] = 1;
      const n = [0, 0, 0]; n[k] = 1;
      return angleAbout(ref, u, n);
    };
    const end = walk((s) => {
      if (s.type !== 'move') return false;
      const to = arr(s.to);
      const from = arr(s.from);
      if (s.motion === 'G2' || s.motion === 'G3') {
        if (s.plane !== item.plane) f1('plane', `arc in the ${s.plane.toUpperCase()} plane where the cutfile's is ${item.plane.toUpperCase()}`, s.line);
        if (s.motion !== wantG) f1('sense', `arc written ${s.motion} where the cutfile's turns ${item.sense.toUpperCase()}`, s.line);
        const sc = arr(s.centre);
        const dc = Math.max(...plane.map((i) => Math.abs(sc[i] - c[i])));
        if (!(dc <= (s.byRadius ? tolR : tolCentre))) f1('centre', `arc centre ${fmtP(sc)} where the cutfile's is ${fmtP(c)}`, s.line);
        if (s.plane === item.plane) acc += pieceSweep(s, s.motion === 'G3' ? 'ccw' : 'cw', k);
      } else if (s.motion === 'G1' && desc.linearise &&
                 (desc.linearise.includes(item.plane) || (helix && desc.linearise.includes('helix')))) {
        lin = true;
        const r = Math.hypot(...plane.map((i) => to[i] - c[i]));
        if (Math.abs(r - item.radius) > 0.01 + tol) f1('radius', `linear piece of an arc ends off the circle at ${fmtP(to)}`, s.line);
        const a0 = angleOf(from);
        const a1 = angleOf(to);
        let t = a1 - a0;
        if (item.sense === 'cw') t = -t;
        while (t < -1e-6) t += 360;
        acc += t;
      } else {
        f1('motion', `arc to ${fmtP(item.p)} written as ${s.motion === 'G0' ? 'a rapid' : s.motion}`, s.line);
        return same(to, item.p);
      }
      if (!feedOk(s.feed, item.feed)) f1('feed', feedText(s.feed, item.feed), s.line);
      const sf = spindleFault(item, s);
      if (sf) f1('spindle', sf, s.line);
      return same(to, item.p) && acc >= item.sweep - 0.5;
    });
    if (end < 0) {
      const next = steps.slice(si).find((s) => s.type === 'move');
      fail(item, `${item.sense.toUpperCase()} arc of ${+item.sweep.toFixed(1)} degrees about ${fmtP(c)} to ${fmtP(item.p)} never completed` +
        (next ? ` (next move ${next.motion} to ${fmtP(next.to)})` : ''), next ? next.line : undefined);
      cur = item.p;
      return;
    }
    for (let j = si; j < end; j++) if (steps[j].type !== 'move') side(steps[j], item);
    const first = steps.slice(si, end).find((s) => s.type === 'move');
    if (cur && first && !same(arr(first.from), cur)) f1('start', `arc starts at ${fmtP(first.from)}, not at ${fmtP(cur)}`, first.line);
    if (Math.abs(acc - item.sweep) > 0.5) f1('sweep', `arc turns ${+acc.toFixed(1)} degrees where the cutfile's turns ${+item.sweep.toFixed(1)}`, steps[end - 1].line);
    for (const [t, l] of problems) fail(item, t, l);
    if (lin) notes.add(`${item.plane.toUpperCase()} arcs written as lines`);
    si = end;
    reached++;
    toolCheck(item, steps[end - 1].line);
    cur = item.p;
  }

  // A hole a controller without the cycle writes as its moves: a feed move
  // straight down at the hole, then straight back up past where it began,
  // at the feed (a bore) or at rapid (a drill). The hole's start height is
  // the highest point of the rapid moves that brought the tool over it.
  function holeByMoves(k, at) {
    const s = steps[k];
    if (s.type !== 'move' || s.motion !== 'G1') return null;
    const from = arr(s.from);
    const to = arr(s.to);
    const over = (p) => Math.abs(p[0] - at[0]) <= tol && Math.abs(p[1] - at[1]) <= tol;
    if (!over(from) || !over(to) || !(to[2] < from[2] - tol)) return null;
    let m = k + 1;
    while (m < steps.length && steps[m].type !== 'move' && steps[m].type !== 'end' && steps[m].type !== 'hole') m++;
    const u = steps[m];
    if (!u || u.type !== 'move' || (u.motion !== 'G0' && u.motion !== 'G1')) return null;
    const back = arr(u.to);
    if (!over(arr(u.from)) || !over(back) || Math.abs(arr(u.from)[2] - to[2]) > tol || back[2] < from[2] - tol) return null;
    let initial = from[2];
    for (let j = k - 1; j >= si && steps[j].type === 'move' && steps[j].motion === 'G0' && over(arr(steps[j].to)); j--) {
      initial = Math.max(initial, arr(steps[j].from)[2]);
    }
    return { end: m + 1, h: { type: 'hole', at: [to[0], to[1]], bottom: to[2], r: from[2], kind: u.motion === 'G1' ? 'bore' : 'drill',
      peck: null, feed: s.feed, initial, line: s.line } };
  }

  function holeItem(item) {
    total++;
    let end = -1;
    let start = -1;
    let h = null;
    for (let k = si; k < steps.length; k++) {
      const s = steps[k];
      if (s.type === 'end') break;
      if (s.type === 'hole' && Math.abs(s.at[0] - item.at[0]) <= tol && Math.abs(s.at[1] - item.at[1]) <= tol) { end = k + 1; start = k; h = s; break; }
      const byMoves = holeByMoves(k, item.at);
      if (byMoves) { end = byMoves.end; start = k; h = byMoves.h; break; }
    }
    if (end < 0) {
      const next = steps.slice(si).find((s) => s.type === 'hole');
      fail(item, `hole at ${fmtP(item.at)} never drilled` + (next ? ` (next hole at ${fmtP(next.at)})` : ''), next ? next.line : undefined);
      return;
    }
    for (let k = si; k < start; k++) {
      const s = steps[k];
      if (side(s, item)) continue;
      if (s.type === 'hole') fail(item, `a hole is drilled at ${fmtP(s.at)} where the cutfile has none`, s.line);
      if (s.type === 'move' && s.motion !== 'G0') fail(item, `${s.motion} move to ${fmtP(s.to)} before the hole at ${fmtP(item.at)}`, s.line);
      else if (s.type === 'move' && arr(s.to)[2] < item.r - tol && !(sameXY(arr(s.from), arr(s.to)) && arr(s.to)[2] >= arr(s.from)[2] - tol)) {
        fail(item, `rapid move to ${fmtP(s.to)} below the R plane of the hole at ${fmtP(item.at)}`, s.line);
      }
    }
    const bad = [];
    if (!item.kinds.includes(h.kind)) bad.push(`a ${h.kind} cycle where the cutfile has ${item.type}`);
    if (!(Math.abs(h.bottom - item.bottom) <= tol)) bad.push(`bottom Z${Number.isFinite(h.bottom) ? +h.bottom.toFixed(4) : '?'} where the cutfile's is Z${+item.bottom.toFixed(4)}`);
    if (!(Math.abs(h.r - item.r) <= tol)) bad.push(`R plane Z${Number.isFinite(h.r) ? +h.r.toFixed(4) : '?'} where the cutfile's is Z${+item.r.toFixed(4)}`);
    if (item.peck !== null && item.type === 'peck' && !(h.peck !== null && Math.abs(h.peck - item.peck) <= tol)) bad.push(`peck ${h.peck === null ? 'none' : +h.peck.toFixed(4)} where the cutfile's is ${+item.peck.toFixed(4)}`);
    if (!feedOk(h.feed, item.feed, item.type === 'tap')) bad.push(feedText(h.feed, item.feed));
    const sf = spindleFault(item, h);
    if (sf) bad.push(sf);
    if (Number.isFinite(h.initial) && Number.isFinite(h.r) && h.initial < h.r - tol) bad.push(`the hole is approached below its R plane (Z${+h.initial.toFixed(4)})`);
    for (const b of bad) fail(item, `hole at ${fmtP(item.at)}: ${b}`, h.line);
    si = end;
    reached++;
    toolCheck(item, h.line);
    // The tool may come down to the hole's own point after it.
    cur = [item.at[0], item.at[1], Math.min(h.initial, item.p[2])];
  }

  // --- tape splits ---
  // What the job has done so far, which a new tape must hold to: the feed the
  // cutfile leaves in force, whether a rapid brought the tool to `cur` (it
  // is then clear of the part), and the highest point any feed move started
  // or ended at: a rapid above it crosses no part. An unknown Z (after a
  // reference return, which lifts the axis to its reference point) counts as
  // clear.
  let inForce = null;
  let curByRapid = false;
  let safeZ = -Infinity;
  const cutOn = new Set();  // the tapes on which a cutting item ends
  const isSide = (s) => ['tool', 'select', 'tlo', 'units', 'problem', 'home', 'tapeEnd'].includes(s.type);
  const clearZ = (z) => !Number.isFinite(z) || z >= safeZ - tol;
  const sameXY = (a, b) => [0, 1].every((i) => Number.isFinite(a[i]) && Number.isFinite(b[i]) && Math.abs(a[i] - b[i]) <= tol);
  // A rapid that crosses no part: along clear heights, or straight up.
  const clearRapid = (s) => {
    const from = arr(s.from);
    const to = arr(s.to);
    return (clearZ(from[2]) && clearZ(to[2])) || (sameXY(from, to) && to[2] >= from[2] - tol);
  };

  // A split before `item`: the old tape lifts the tool clear and ends; the
  // new one comes back to `cur` before the item's own moves. Rapid moves on
  // the way stay clear, or go straight down onto `cur` when a rapid brought
  // the tool there; a feed move on the way goes at the feed in force and
  // moves sideways only where clear; a controller that takes a length offset
  // gets it again before the tool returns. Returns true with `si` past the
  // return, or false with `si` untouched when no tape starts here.
  function splitAt(item) {
    let k = si;
    while (k < steps.length && steps[k].type !== 'tape') {
      const s = steps[k];
      if (!isSide(s) && !(s.type === 'move' && s.motion === 'G0' && clearRapid(s) && !same(arr(s.to), item.p))) return false;
      k++;
    }
    if (k >= steps.length || !cur || kind !== 'mill') return false;
    for (let j = si; j < k; j++) side(steps[j], item);
    const name = steps[k].name;
    const back = cur;
    let tlo = false;
    for (let j = k + 1; j < steps.length; j++) {
      const s = steps[j];
      if (s.type === 'tapeEnd' || s.type === 'end') {
        fail(item, `tape ${name} ends before it returns to ${fmtP(back)}, where the tape before stopped`, s.line);
        si = j;
        return true;
      }
      if (s.type === 'tlo') tlo = true;
      if (side(s, item)) continue;
      if (s.type !== 'move') { fail(item, `a ${s.type} on tape ${name} before it returns to ${fmtP(back)}`, s.line); continue; }
      const from = arr(s.from);
      const to = arr(s.to);
      const down = sameXY(from, back) && sameXY(to, back) && to[2] <= from[2] + tol;
      if (s.motion === 'G0') {
        if (!clearRapid(s) && !(down && curByRapid)) fail(item, `rapid move to ${fmtP(to)} through the part on the way back to ${fmtP(back)} (tape ${name})`, s.line);
      } else if (s.motion === 'G1') {
        // The feed in force where the tool stopped, or one a feed record
        // gave since (the split may come after it).
        const given = [inForce, item.inForce].filter((f) => f !== null && f !== undefined);
        if (!given.length) fail(item, `feed move at F${s.feed} on the way back to ${fmtP(back)} before the cutfile gives any feed (tape ${name})`, s.line);
        else if (!given.some((f) => feedOk(s.feed, f))) fail(item, `feed move on the way back to ${fmtP(back)} at ${feedText(s.feed, given[0])} (tape ${name})`, s.line);
        if (!down && !(clearZ(from[2]) && clearZ(to[2]))) fail(item, `feed move to ${fmtP(to)} through the part on the way back to ${fmtP(back)} (tape ${name})`, s.line);
      } else {
        fail(item, `${s.motion} move on the way back to ${fmtP(back)} (tape ${name})`, s.line);
      }
      if (same(to, back)) {
        if (desc.tlo && !tlo) fail(item, `no tool length offset on tape ${name} before the tool returns to ${fmtP(back)}`, s.line);
        si = j + 1;
        return true;
      }
    }
    si = steps.length;
    return true;
  }

  // After an item: what a later split must hold to.
  function afterItem(item, before) {
    if (item.kind === 'point' || item.kind === 'arc') {
      if (!item.rapid) safeZ = Math.max(safeZ, item.p[2], before ? before[2] : -Infinity);
      curByRapid = !!item.rapid;
    } else if (item.kind === 'hole') {
      safeZ = Math.max(safeZ, item.r);
      curByRapid = true;
    }
    if (item.inForce !== undefined) inForce = item.inForce;
  }

  // A tape that never names its units is read in the controller's default.
  const namesUnits = steps.some((s) => s.type === 'units');
  for (const item of exp.items) {
    if (item.kind === 'from') {
      cur = kind === 'mill' ? null : item.p;
      if (kind === 'wire') {
        // The wire stands in its start hole: the tape must say so before it cuts.
        const firstMove = steps.find((s) => s.type === 'move');
        if (firstMove && !same(arr(firstMove.from), item.p)) {
          fail(item, `the first move starts at ${fmtP(firstMove.from)}, not at the start hole ${fmtP(item.p)}`, firstMove.line);
        }
      }
    } else if (item.kind === 'tool') {
      if (kind === 'mill' || kind === 'lathe') { pendingTool = item.tool; toolDone = false; toolSelected = false; tloDone = false; }
    } else if (item.kind === 'point' || item.kind === 'arc' || item.kind === 'hole') {
      const before = cur;
      const reachedBefore = reached;
      while (splitAt(item));
      if (item.kind === 'point') pointItem(item);
      else if (item.kind === 'arc') arcItem(item);
      else holeItem(item);
      if (reached > reachedBefore && !(item.kind === 'point' && item.rapid) && si > 0) cutOn.add(steps[si - 1].tape || 0);
      afterItem(item, before);
    }
    else if (item.kind === 'end') {
      const rest = steps.slice(si);
      for (const s of rest) {
        if (side(s, item)) continue;
        if (s.type === 'end') break;
        if (s.type === 'hole') fail(item, `a hole is drilled at ${fmtP(s.at)} after the last cutfile move`, s.line);
        if (s.type === 'move' && s.motion !== 'G0') fail(item, `a ${s.motion} move to ${fmtP(s.to)} after the last cutfile move`, s.line);
      }
      if (!rest.some((s) => s.type === 'end')) fail(item, 'the program is never ended (' + desc.endText + ')');
    }
  }
  if (!namesUnits && exp.units !== (desc.defaultUnits || 'mm') && reached < total) {
    failures.unshift({ rec: 0, text: `the tape names no units, so its ${exp.units === 'in' ? 'inch' : exp.units} values are read as ${desc.defaultUnits || 'mm'}`, where: '' });
  }
  if (tapeNames.length > 1) {
    tapeNames.forEach((name, i) => { if (!cutOn.has(i)) failures.push({ rec: 0, text: `tape ${name} cuts nothing`, where: '' }); });
  }
  return { failures, reached, total, notes: [...notes] };
}

module.exports = { check };
