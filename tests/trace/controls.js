'use strict';
// How each built-in control's machine reads a tape: written from the public
// conventions of the controller family that the control's name and header
// stand for, never from the control's own settings, so that the program is
// not its own judge. Where a family's conventions leave a point open, the
// entry says what is assumed.
//
// Fields of a word-address (ISO) description:
//   kind            'mill', 'lathe' or 'wire' (which job set it is traced with)
//   dialect         'iso' or 'conversational'
//   lengthLetters   letters whose numbers are lengths: without a decimal
//                   point they are read in least increments
//   implied         decimals of a length written without a point, by units
//   zeros           'leading' (the digits end at the last increment) or
//                   'trailing' (they start at `digitsBefore` whole digits)
//   unitCodes       G codes that select inch or millimetre input
//   defaultUnits    the units before any unit code
//   absolute, incremental   the G codes of the two distance modes
//   planes          G code to plane; defaultPlane
//   centres         'incremental' (I J K from the start to the centre) or
//                   'absolute' (the centre's coordinates)
//   radiusWord, rSign       R gives the arc's radius; 'iso': positive up to
//                   180 degrees, negative beyond
//   linearise       planes in which an arc may come as lines
//   referenceCodes  reference return codes (via the point named)
//   setPosition     the code that declares the current position
//   cycles          canned-cycle G code to kind; cycleCancel; cycleWords
//                   (bottom, R plane, peck); returnCodes (to the initial
//                   level or the R plane); in absolute mode the bottom and
//                   R words are coordinates, in incremental mode R runs from
//                   the initial level and the bottom from R
//   dwellCodes      codes whose words are times, not moves
//   toolChange      M codes that complete a tool change (null: the tool
//                   word itself changes the tool); toolNumber reads the
//                   tool out of the T word; tlo the length offset code
//   programEnd      M codes that end the program; endText for messages
//   xDiameter       lathe X (and U) words are diameters
//   feedStep        the feed word's resolution (units per minute)

const LENGTHS = 'XYZUVWIJKRQ';

// The common ISO milling controller (Fanuc-type and the many that read the
// same words): decimal point optional, pointless lengths in 0.001 mm or
// 0.0001 inch, G20/G21, G90/G91, G17/G18/G19, incremental signed I J K, R
// with the usual sign rule, G28 through an intermediate point, G81-G89
// with G98/G99 and Z, R and Q, G80 to cancel, T with M6, G43 with H.
const ISO_MILL = {
  kind: 'mill',
  dialect: 'iso',
  lengthLetters: LENGTHS,
  implied: { mm: 3, in: 4 },
  zeros: 'leading',
  unitCodes: { 20: 'in', 21: 'mm' },
  defaultUnits: 'mm',
  absolute: 90,
  incremental: 91,
  planes: { 17: 'xy', 18: 'zx', 19: 'yz' },
  defaultPlane: 'xy',
  centres: 'incremental',
  radiusWord: true,
  rSign: 'iso',
  linearise: [],
  referenceCodes: [28],
  setPosition: 92,
  axisLetters: ['X', 'Y', 'Z'],
  cycles: { 73: 'peck', 74: 'tap', 76: 'bore', 81: 'drill', 82: 'drill', 83: 'peck', 84: 'tap', 85: 'bore', 86: 'bore', 87: 'bore', 88: 'bore', 89: 'bore' },
  cycleCancel: 80,
  cycleWords: { depth: 'Z', r: 'R', peck: 'Q' },
  returnCodes: { 98: 'initial', 99: 'r' },
  dwellCodes: [4],
  toolChange: [6],
  tlo: 43,
  programEnd: [30, 2],
  endText: 'M30 or M2',
  skipLine: /^(%|O\d+.*|:\d+.*)$/,
  feedStep: 1,
};

// DIN 66025 controllers of German and European makers (Siemens, Deckel,
// Heidenhain's ISO mode, Maho/Philips, Bosch, Num, Fagor and others): as
// above, inch and metric by G70/G71, the program ended by M30 or M02.
const DIN_MILL = { ...ISO_MILL, unitCodes: { 70: 'in', 71: 'mm', 20: 'in', 21: 'mm' } };

// The ISO lathe (Fanuc-type): X words are diameters, U and W increments of
// X and Z, arcs in the ZX plane with I and K (I a radius) or R, reference
// return G28 U0 W0, the tool called with its offset by Tttoo, no M6.
const ISO_LATHE = {
  ...ISO_MILL,
  kind: 'lathe',
  defaultPlane: 'zx',
  xDiameter: true,
  centreDiameter: false,
  axisLetters: ['X', 'Z', 'U', 'W'],
  cycles: {},
  toolChange: null,
  toolNumber: (t) => (t >= 100 ? Math.floor(t / 100) : t),
  tlo: undefined,
};

// Wire EDM controllers: the ISO words of the mill, no Z in the path, the
// start hole declared by G92 (or reached), no spindle and no tool change.
const ISO_WIRE = { ...ISO_MILL, kind: 'wire', cycles: {}, toolChange: null, tlo: undefined };

const CONTROLS = {
  standard: { ...ISO_MILL, family: 'generic ISO word-address mill', linearise: ['zx', 'yz'],
    note: 'no controller family: traced as a plain ISO mill; it writes no plane codes, so ZX and YZ arcs may come as lines' },
  fanuc: { ...ISO_MILL, family: 'Fanuc 6M / 0M' },
  fanuc6m: { ...ISO_MILL, family: 'Fanuc 6M' },
  fanucom: { ...ISO_MILL, family: 'Fanuc 0M' },
};

module.exports = { CONTROLS, ISO_MILL, DIN_MILL, ISO_LATHE, ISO_WIRE };
