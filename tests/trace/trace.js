#!/usr/bin/env node
'use strict';
// Posts the trace jobs with built-in controls and traces every tape.
//
//   node trace.js --kelvaron PATH [--control NAME]... [--job NAME]...
//                 [--enforce] [--update] [--report FILE] [--keep DIR] [--verbose]
//                 [--rs274 PATH]
//   node trace.js --list [--rs274 PATH]
//
// With --rs274 the tapes are read by LinuxCNC's rs274 (rs274.js) instead of
// gcode-toolpath, for the ISO mill controls only, and compared with
// known_failures_rs274.txt.
// gcode-toolpath is found in tests/trace/node_modules or through NODE_PATH
// (the build tree's copy: NODE_PATH=build/tests/trace/node_modules).
//
// Without --control every control of the description table is traced.
// --enforce compares each result with known_failures.txt: a job listed there
// must fail and every other job must pass (a listed job that now passes is
// reported so that its line is removed). --update rewrites known_failures.txt
// from the results, keeping the reasons of the lines that still fail.
// --report writes the table of results (control, job, result, first fault).
// --keep leaves each job's folder (cutfile, tape) under DIR.
// With KELVARON_LOOP_STRIDE set (CI sets it for the sanitizer build), each
// control posts every STRIDE-th of its jobs only, the jobs taken turning from
// one control to the next, so that every job is still posted by some controls
// (a control of fewer jobs than STRIDE posts one of them).

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { JOBS, writeCutfile } = require('./jobs');
const { readRecords, expectations } = require('./cutfile');
const { CONTROLS } = require('./controls');
const { traceIso } = require('./iso');
const { traceConversational } = require('./conversational');
const { traceRs274 } = require('./rs274');
const { check } = require('./check');

let KNOWN = path.join(__dirname, 'known_failures.txt');
const isoMill = (desc) => desc.dialect === 'iso' && desc.kind === 'mill';

function parseArgs(argv) {
  const a = { controls: [], jobs: [], enforce: false, update: false };
  for (let i = 0; i < argv.length; i++) {
    const k = argv[i];
    if (k === '--kelvaron') a.kelvaron = path.resolve(argv[++i]);
    else if (k === '--control') a.controls.push(argv[++i]);
    else if (k === '--job') a.jobs.push(argv[++i]);
    else if (k === '--enforce') a.enforce = true;
    else if (k === '--update') a.update = true;
    else if (k === '--report') a.report = argv[++i];
    else if (k === '--keep') a.keep = path.resolve(argv[++i]);
    else if (k === '--verbose') a.verbose = true;
    else if (k === '--list') a.list = true;
    else if (k === '--rs274') a.rs274 = argv[++i];
    else throw new Error(`unknown argument ${k}`);
  }
  if (!a.kelvaron && !a.list) throw new Error('--kelvaron PATH is required');
  return a;
}

function readKnown() {
  const known = new Map();
  if (!fs.existsSync(KNOWN)) return known;
  for (const line of fs.readFileSync(KNOWN, 'utf8').split('\n')) {
    const t = line.trim();
    if (!t || t.startsWith('#')) continue;
    const m = t.match(/^(\S+)\s+(\S+)\s*(.*)$/);
    if (m) known.set(`${m[1]} ${m[2]}`, m[3]);
  }
  return known;
}

// The tapes of a run in their order: job.tap, then the numbered ones
// (job.t01 .. job.t99, job.100 and on).
function tapeFiles(names) {
  const number = (f) => {
    const m = f.match(/^job\.(?:tap|t(\d\d)|(\d{3,}))$/);
    return m ? +(m[1] || m[2] || 0) : -1;
  };
  return names.filter((f) => number(f) >= 0).sort((a, b) => number(a) - number(b));
}

// Each tape traced as the program it is, starting where the one before left
// the machine, up to its program end (what follows, such as an end-of-tape
// character, is not run); its lines numbered on from the last tape's.
// Between two tapes the steps hold { type: 'tape', name }, and the program
// end of the first becomes { type: 'tapeEnd' }; every step carries the index
// of its tape.
// With `rs274` the tapes are read by rs274 in place of the own readers.
function traceTapes(desc, names, texts, rs274) {
  const steps = [];
  const lines = [];
  let at;
  names.forEach((name, i) => {
    const traced = rs274 ? traceRs274(desc, texts[i], rs274, at)
      : desc.dialect === 'conversational' ? traceConversational(desc, texts[i], at) : traceIso(desc, texts[i], at);
    const offset = lines.length;
    if (i > 0) steps.push({ type: 'tape', name, tape: i, line: offset + 1 });
    const last = i === names.length - 1;
    for (const s of traced) {
      steps.push({ ...s, tape: i, line: s.line ? s.line + offset : s.line, ...(s.type === 'end' && !last ? { type: 'tapeEnd' } : {}) });
      if (s.type === 'end') break;
    }
    lines.push(...texts[i].split(/\r?\n/));
    at = traced.endPosition;
  });
  return { steps, lines };
}

// One job with one control: the tape's trace checked against the cutfile.
function runJob(kelvaron, control, desc, job, keep, rs274) {
  const dir = keep ? path.join(keep, `${control}-${job.name}`) : fs.mkdtempSync(path.join(os.tmpdir(), 'kvtrace-'));
  fs.mkdirSync(dir, { recursive: true });
  try {
    const cutText = writeCutfile(job.build());
    fs.writeFileSync(path.join(dir, 'job.cut'), cutText);
    let name = control;
    if (job.options) {
      name = 'trace';
      fs.writeFileSync(path.join(dir, 'trace.opt'), [`machine ${control}`, ...job.options, 'end', ''].join('\n'));
    }
    const env = { ...process.env, HOME: dir, LC_ALL: 'C' };
    delete env.KELVARON;
    delete env.QLOR_ASSERT;
    // The answers to the console questions come from a file: a pipe would
    // fail with EPIPE whenever kelvaron ends without reading them.
    const answers = path.join(dir, 'answers');
    fs.writeFileSync(answers, '0\n0\nN\nN\n');
    const stdin = fs.openSync(answers, 'r');
    let run;
    try {
      run = spawnSync(kelvaron, [name, 'job.cut'], { cwd: dir, env, stdio: [stdin, 'pipe', 'pipe'], timeout: 60000, encoding: 'utf8' });
    } finally {
      fs.closeSync(stdin);
    }
    const failures = [];
    if (run.error) return { failures: [{ text: `kelvaron did not run: ${run.error.message}` }], reached: 0, total: 0, notes: [] };
    const errors = (run.stderr || '').split('\n').filter((l) => /error|warning/i.test(l)).map((l) => l.trim());
    if (run.status !== 0) failures.push({ text: `kelvaron ended with exit code ${run.status}${errors.length ? ': ' + errors[0] : ''}` });
    const tapes = tapeFiles(fs.readdirSync(dir));
    if (!tapes.length) return { failures: [...failures, { text: 'no tape written' }], reached: 0, total: 0, notes: [] };
    const exp = expectations(readRecords(cutText));
    exp.spindle = !!job.spindle;
    const { steps, lines } = traceTapes(desc, tapes, tapes.map((f) => fs.readFileSync(path.join(dir, f), 'latin1')), rs274);
    const result = check(exp, steps, desc, lines, tapes);
    if (job.check) result.failures.push(...job.check({ steps, stderr: run.stderr || '', dir }));
    // Where rs274 stopped reading, that is the first fault.
    const stop = steps.find((s) => s.type === 'problem' && s.text.startsWith('rs274:'));
    if (stop) failures.push({ text: stop.text, where: stop.line ? `line ${stop.line} "${(lines[stop.line - 1] || '').trim()}"` : '' });
    result.failures = [...failures, ...result.failures.filter((f) => !stop || f.text !== stop.text)];
    for (const e of errors) if (/^\*\*\*|Warning|Error/.test(e)) result.notes.push(e);
    return result;
  } finally {
    if (!keep) fs.rmSync(dir, { recursive: true, force: true });
  }
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  const traced = Object.keys(CONTROLS).filter((c) => !args.rs274 || isoMill(CONTROLS[c]));
  if (args.list) { console.log(traced.join('\n')); return; }
  if (args.rs274) KNOWN = path.join(__dirname, 'known_failures_rs274.txt');
  const names = args.controls.length ? args.controls : traced;
  const known = readKnown();
  const stride = Math.max(1, parseInt(process.env.KELVARON_LOOP_STRIDE || '1', 10) || 1);
  const rows = [];
  let bad = 0;
  for (const control of names) {
    const desc = CONTROLS[control];
    if (!desc) throw new Error(`no description of control ${control}`);
    const turn = Object.keys(CONTROLS).indexOf(control);
    const every = Math.min(stride, JOBS[desc.kind].length);
    for (const [index, job] of JOBS[desc.kind].entries()) {
      if (args.jobs.length && !args.jobs.includes(job.name)) continue;
      if ((index + turn) % every !== 0) continue;
      if (job.needs && !desc[job.needs]) continue;
      const r = runJob(args.kelvaron, control, desc, job, args.keep, args.rs274);
      const ok = r.failures.length === 0;
      const key = `${control} ${job.name}`;
      const first = ok ? '' : r.failures[0].text + (r.failures[0].where ? ` at ${r.failures[0].where}` : '');
      rows.push({ control, job: job.name, ok, first, r });
      const status = ok ? 'pass' : 'FAIL';
      let verdict = '';
      if (args.enforce) {
        if (known.has(key) && ok) { verdict = '  <- now passes: remove its line from known_failures.txt'; bad++; }
        if (!known.has(key) && !ok) { verdict = '  <- unexpected failure'; bad++; }
      }
      console.log(`${control.padEnd(10)} ${job.name.padEnd(12)} ${status} ${r.reached}/${r.total} points${ok ? '' : ': ' + first}${verdict}`);
      if ((args.verbose || verdict) && !ok) for (const f of r.failures.slice(1, 12)) console.log(`${''.padEnd(24)}- ${f.text}${f.where ? ' at ' + f.where : ''}`);
      if (args.verbose) for (const n of r.notes) console.log(`${''.padEnd(24)}note: ${n}`);
    }
  }
  if (args.report) {
    const out = ['control\tjob\tresult\tpoints\tfirst fault'];
    for (const x of rows) out.push(`${x.control}\t${x.job}\t${x.ok ? 'pass' : 'fail'}\t${x.r.reached}/${x.r.total}\t${x.first}`);
    fs.writeFileSync(args.report, out.join('\n') + '\n');
  }
  if (args.update) {
    const lines = fs.existsSync(KNOWN) ? fs.readFileSync(KNOWN, 'utf8').split('\n').filter((l) => l.startsWith('#')) : [];
    const keep = new Map(known);
    for (const x of rows) {
      const key = `${x.control} ${x.job}`;
      if (x.ok) keep.delete(key);
      else if (!keep.has(key)) keep.set(key, x.first);
    }
    const body = [...keep.entries()].sort().map(([k, v]) => {
      const [control, job] = k.split(' ');
      return `${control.padEnd(10)} ${job.padEnd(12)} ${v}`.trimEnd();
    });
    fs.writeFileSync(KNOWN, [...lines, ...body, ''].join('\n'));
  }
  const passed = rows.filter((x) => x.ok).length;
  console.log(`traced ${rows.length} jobs: ${passed} pass, ${rows.length - passed} fail`);
  if (args.enforce) {
    if (bad) console.log(`${bad} result(s) differ from known_failures.txt`);
    process.exit(bad ? 1 : 0);
  }
}

main();
