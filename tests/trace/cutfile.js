'use strict';
// Reads an ASCII-layout cutfile and turns it into what a machine must do:
// the points in order (rapid or at a feed), the arcs with their centre,
// sense and sweep, the holes with their position, bottom and R plane, and
// the tool changes. Lengths are given in millimetres whatever the cutfile's
// units, since the traced tape is compared in millimetres too.

function readRecords(text) {
  const lines = text.split(/\r?\n/);
  const head = lines[0].match(/^(.)I(\d{1,2})F(\d{2,4})A(\d{1,2})\1\s*$/);
  if (!head) throw new Error('cutfile: no ASCII layout header');
  const delim = head[1];
  const iw = +head[2];
  const fd = head[3];
  const [ri, rd] = fd.length === 2 ? [+fd[0], +fd[1]] : fd.length === 3 ? [+fd[0], +fd.slice(1)] : [+fd.slice(0, 2), +fd.slice(2)];
  const fw = ri + rd + 2;
  const aw = +head[4];
  const records = [];
  let words = [];
  for (let n = 1; n < lines.length; n++) {
    const line = lines[n];
    if (!line.length) break;
    let c = 0;
    let ended = false;
    while (c < line.length) {
      const ch = line[c];
      if (ch === ' ') break;
      if (ch === delim) { ended = true; break; }
      if (ch === 'I') {
        const v = parseInt(line.substr(c + 1, iw), 10);
        if (!(c === 0 && words.length === 0)) words.push(v);
        c += 1 + iw;
      } else if (ch === 'F') {
        const f = line.substr(c + 1, fw);
        words.push(f.includes('.') ? parseFloat(f) : parseInt(f, 10) / 10 ** rd);
        c += 1 + fw;
      } else if (ch === 'A') {
        for (let k = 0; k < aw; k++) words.push(line[c + 1 + k] || ' ');
        c += 1 + aw;
      } else {
        throw new Error(`cutfile line ${n + 1}: unexpected '${ch}'`);
      }
    }
    if (ended && words.length) {
      records.push({ number: words[0], cls: words[1], sub: words[2], data: words.slice(3) });
      words = [];
    }
  }
  return records;
}

const CYCLE_KIND = { 163: 'drill', 288: 'break chip', 153: 'peck', 154: 'peck', 168: 'tap', 169: 'tap',
  209: 'bore', 210: 'bore', 211: 'bore', 212: 'bore', 213: 'bore' };

const sub = (a, b) => a.map((v, i) => v - b[i]);
const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];

// The signed angle (degrees) from u to v about the axis n (both in the plane).
function angleAbout(u, v, n) {
  return Math.atan2(dot(cross(u, v), n), dot(u, v)) * 180 / Math.PI;
}

// Builds the expectations. Each item carries `rec`, the cutfile record
// number, for the report, and `inForce`, the feed the cutfile's feed records
// leave in force after it (null before the first).
function expectations(records) {
  let scale = 1; // cutfile length to millimetres
  let units = 'mm';
  let feed = null;
  let rapid = false;
  let home = false;
  let circle = null;
  let cycle = null;
  let from = null;
  let pos = null;
  let multiaxis = false; // GOTO points carry a tool vector (i, j, k)
  let toolLength = 0;
  // The spindle: its speed and sense ('cw', 'ccw', 'off'); a feed per
  // revolution is taken per minute at the speed in force where it is used.
  let spindle = { sense: 'off', rpm: 0 };
  let feedValue = null;
  let perRev = false;
  const feedNow = () => (feedValue === null ? null : perRev ? feedValue * spindle.rpm : feedValue);
  const items = [];
  for (const r of records) {
    const d = r.data;
    if (r.cls === 14000) { items.push({ kind: 'end', rec: r.number }); break; }
    if (r.cls === 9000 && r.sub === 2) {
      multiaxis = d[0] === 1;
    } else if (r.cls === 9000 && r.sub === 9) {
      units = d[0] === 173 ? 'in' : d[0] === 174 ? 'ft' : d[0] === 172 ? 'cm' : 'mm';
      scale = { mm: 1, cm: 10, in: 25.4, ft: 304.8 }[units];
    } else if (r.cls === 3000 && d[1] === 4) {
      const axis = [d[8], d[9], d[10]];
      circle = { centre: [d[5] * scale, d[6] * scale, d[7] * scale], axis, radius: d[11] * scale };
    } else if (r.cls === 2000) {
      if (r.sub === 5) rapid = true;
      else if (r.sub === 17) home = true;
      else if (r.sub === 1009) { feedValue = d[0] * scale; perRev = d[1] === 74 || d[1] === 316; }
      else if (r.sub === 1031) {
        const off = d.slice(1).includes(72) || d[0] === 0;
        spindle = off ? { sense: 'off', rpm: 0 } : { sense: d.slice(1).includes(59) ? 'ccw' : 'cw', rpm: Math.abs(d[0]) };
      }
      else if (r.sub === 1055) {
        toolLength = d[2] * scale;
        items.push({ kind: 'tool', tool: Math.round(d[0]), rec: r.number });
      }
      else if (r.sub === 1054) {
        if (d[0] === 72) { cycle = null; continue; }
        const n = d.length;
        cycle = { type: CYCLE_KIND[d[0]] || 'unknown', depths: d.slice(1, n - 4).map((v) => v * scale),
          feed: d[n - 3] * scale, perRev: d[n - 4] === 74 || d[n - 4] === 316, clearance: d[n - 1] * scale };
      }
    } else if (r.cls === 5000 && r.sub === 3) {
      from = [d[2] * scale, d[3] * scale, d[4] * scale];
      pos = from;
      items.push({ kind: 'from', p: from, rec: r.number });
    } else if (r.cls === 5000) {
      feed = feedNow();
      const pts = [];
      const vecs = [];
      const stride = multiaxis ? 6 : 3;
      for (let k = 2; k + 2 < d.length; k += stride) {
        pts.push([d[k] * scale, d[k + 1] * scale, d[k + 2] * scale]);
        vecs.push(multiaxis ? [d[k + 3], d[k + 4], d[k + 5]] : null);
      }
      if (!pts.length) continue;
      if (circle) {
        items.push({ ...arcItem(circle, pos, pts, feed, r.number), spindle });
        pos = pts[pts.length - 1];
      } else if (cycle) {
        for (const p of pts) {
          const c = cycle;
          const peck = c.depths.length >= 3 ? c.depths[1] - c.depths[0] : null;
          // A chip-breaking cycle is a drill with dwells or short pecks, as
          // the controller has it; a pecking cycle given no peck is a drill.
          const kinds = c.type === 'break chip' ? ['drill', 'peck'] : c.type === 'peck' && peck === null ? ['peck', 'drill'] : [c.type];
          items.push({ kind: 'hole', type: kinds[0], kinds, p, at: [p[0], p[1]], bottom: p[2] - c.depths[c.depths.length - 1],
            r: p[2] - c.clearance, peck, feed: c.perRev ? c.feed * spindle.rpm : c.feed, inForce: feed, spindle, rec: r.number });
        }
      } else if (home) {
        for (const p of pts) {
          items.push({ kind: 'point', p, rapid: true, home: true, feed: null, inForce: feed, rec: r.number });
          pos = p;
        }
      } else {
        pts.forEach((p, i) => {
          // A tilted tool (a tapered wire) leans by its vector: over the
          // tool's length its upper end stands off the point by `lean`.
          const v = vecs[i];
          const lean = v && v[2] ? [v[0] / v[2] * toolLength, v[1] / v[2] * toolLength] : null;
          items.push({ kind: 'point', p, rapid, feed: rapid ? null : feed, inForce: feed, lean, spindle, rec: r.number });
          pos = p;
        });
      }
      rapid = false;
      home = false;
      circle = null;
      cycle = null;
    }
  }
  return { units, items, from };
}

// An arc from `start` through the points to the last one, about the circle's
// centre and axis. The sweep follows the sense: counter-clockwise about the
// axis as given (clockwise when the axis points down its principal
// direction), each step between points taken in that sense; an arc whose
// only point is its start is a full circle.
function arcItem(circle, start, pts, feed, rec) {
  const a = circle.axis;
  const k = [0, 1, 2].find((i) => Math.abs(a[i]) > 0.99999);
  const plane = k === 2 ? 'xy' : k === 1 ? 'zx' : 'yz';
  const sense = a[k] > 0 ? 'ccw' : 'cw';
  const n = [0, 0, 0];
  n[k] = 1;
  const c = circle.centre.slice();
  let sweep = 0;
  let prev = start;
  for (const p of pts) {
    const u = sub(prev, c); u[k] = 0;
    const v = sub(p, c); v[k] = 0;
    let t = angleAbout(u, v, n);
    if (sense === 'cw') t = -t;
    if (t <= 1e-6) t += 360;
    sweep += t;
    prev = p;
  }
  c[k] = start[k];
  return { kind: 'arc', plane, axisIndex: k, sense, centre: c, radius: circle.radius, start, p: pts[pts.length - 1], sweep,
    feed, inForce: feed, rec };
}

module.exports = { readRecords, expectations, angleAbout, sub, dot, cross };
