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
//   linearise       planes in which an arc may come as lines; 'helix' lets a
//                   helix come as lines in any plane
//   referenceCodes  reference return codes (via the point named)
//   setPosition     the code that declares the current position
//   cycles          canned-cycle G code to kind; cycleCancel; cycleWords
//                   (bottom, R plane, peck); returnCodes (to the initial
//                   level or the R plane); in absolute mode the bottom and
//                   R words are coordinates, in incremental mode R runs from
//                   the initial level and the bottom from R;
//                   cycleWordsByCode: the words of a cycle code that a
//                   dialect reads with words of its own
//   dwellCodes      codes whose words are times, not moves
//   toolChange      M codes that complete a tool change (null: the tool
//                   word itself changes the tool); toolNumber reads the
//                   tool out of the T word; tlo the length offset code
//                   that must follow a tool change (Fanuc-type families)
//   programEnd      M codes that end the program; endText for messages
//   xDiameter       lathe X (and U) words are diameters
//   feedStep        the feed word's resolution (units per minute)
//   feedModes       G codes of feed per minute and per revolution (94, 95;
//                   the lathe's 98, 99); spindleCodes: M codes of the
//                   spindle's senses (3, 4, 5, and 13, 14 with coolant)
//   workOffsetG15   the work offset is selected by G15 Hn (Okuma)
//   taper           a wire machine's taper head: the two words that place
//                   the upper wire guide off the lower one in X and Y (in
//                   the tape's length units), whether they give the offset
//                   or move it by their amounts (increments), and their
//                   least increment by units; the guides stand the wire's
//                   length (the cutfile's tool length) apart

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
  tlo: undefined,
  programEnd: [30, 2],
  endText: 'M30 or M2',
  skipLine: /^(%|O\d+.*|:\d+.*)$/,
  feedStep: 1,
};

// DIN 66025 controllers of German and European makers (Siemens, Deckel,
// Heidenhain's ISO mode, Maho/Philips, Bosch, Num, Fagor and others): as
// above, inch and metric by G70/G71, the program ended by M30 or M02. The
// program starts with the character %, which these controllers follow on
// the same line with the program's number or name (%1234, %MPF12, %PM).
const DIN_MILL = { ...ISO_MILL, unitCodes: { 70: 'in', 71: 'mm', 20: 'in', 21: 'mm' },
  skipLine: /^(%.*|O\d+.*|:\d+.*)$/ };

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
  feedModes: { 98: 'min', 99: 'rev' },
};

// Wire EDM controllers: the ISO words of the mill, no Z in the path, the
// start hole declared by G92 (or reached), no spindle and no tool change.
const ISO_WIRE = { ...ISO_MILL, kind: 'wire', cycles: {}, toolChange: null, tlo: undefined };

// The taper head of the wire lists that have one: B and C the upper guide's
// offset in X and Y (a U/V taper by other letters), to 0.001 of the unit.
const TAPER_BC = { words: ['B', 'C'], increments: false, step: { mm: 0.001, in: 0.001 } };

// Controllers that select inch and millimetre input by G70 and G71.
const G70 = { unitCodes: { 70: 'in', 71: 'mm' } };

// Siemens Sinumerik 810/850: DIN words, the drilling cycles called as
// subroutines L81..L89 with R parameters (R2 reference plane, R3 final
// depth, R10 retract plane, absolute; R5 the first depth of L83).
const SIEMENS = { ...DIN_MILL, cycleStyle: 'siemens', rParameters: true,
  cycles: { 81: 'drill', 82: 'drill', 83: 'peck', 84: 'tap', 85: 'bore', 86: 'bore', 87: 'bore', 88: 'bore', 89: 'bore' } };

// Heidenhain TNC in ISO mode: the centre I J K is the circle's centre point
// (absolute in G90); cycles are defined (G83 pecking, G84 tapping with P01
// set-up, P02 depth, P03 peck, ... or G200.. with Q parameters) and called
// with G79 or M99 at the position reached.
// Every block ends with the character *; the first and the last block
// name the program after % and its units (%1234 G71 *).
const HEIDENHAIN_ISO = { ...DIN_MILL, centres: 'absolute', cycleStyle: 'heidenhain', comment: /%\w*|\*\s*$/g,
  cycles: { 83: 'peck', 84: 'tap', 200: 'drill', 201: 'bore', 202: 'bore', 203: 'drill', 205: 'peck', 206: 'tap', 207: 'tap' },
  skipLine: /^(%.*|N?\d*\s*%.*)$/ };

// NUM 760: the centre I J K is the circle's centre point; cycles G81..G89
// with Z the bottom and ER the approach (R) plane, P the first peck, EF the
// dwell.
const NUM760 = { ...DIN_MILL, centres: 'absolute', multiLetter: ['ER', 'EF'], cycleStyle: 'num',
  cycleWords: { depth: 'Z', r: 'ER', peck: 'P' }, skipLine: /^(%\d*.*)$/ };

// Fagor 8025/8050: cycles G81..G89 with Z the reference (R) plane and I the
// depth (a coordinate in G90); G83 with I the peck and J the number of pecks;
// the 8050's G69 (deep hole drilling with a variable peck) with I the depth
// and B the peck.
const FAGOR = { ...DIN_MILL, cycleStyle: 'fagor', cycleWords: { depth: 'I', r: 'Z', peck: 'I', count: 'J' },
  cycles: { ...DIN_MILL.cycles, 69: 'peck' },
  cycleWordsByCode: { 69: { depth: 'I', r: 'Z', peck: 'B', depthIsBottom: true } } };

const CONTROLS = {
  ab84: { ...ISO_MILL, ...G70, family: 'Allen-Bradley 8400MP', note: 'ISO words, G70/G71 units; incremental centres assumed' },
  acra8: { ...ISO_MILL, ...G70, family: 'Cincinnati Acramatic 850M', note: 'ISO words, G70/G71 units; incremental centres assumed' },
  agie: { ...ISO_WIRE, ...G70, family: 'Agie wire EDM (ISO)', note: 'ISO wire program, start hole by G92 or a rapid' },
  anilam: { ...ISO_MILL, ...G70, centres: 'absolute', family: 'Anilam 1100M / 3000M', note: 'G-code mode: I J give the centre point' },
  bosch: { ...DIN_MILL, family: 'Bosch CC200 / CC300' },
  boss: { ...ISO_MILL, ...G70, centres: 'unsigned', family: 'Bridgeport BOSS', note: 'I J are unsigned distances to the centre; ISO cycles' },
  bostom: { ...ISO_MILL, family: 'Boston Digital Bostomatic', note: 'Fanuc-type words assumed' },
  charm: { ...ISO_WIRE, ...G70, taper: TAPER_BC, family: 'Charmilles Robofil wire EDM' },
  deckel11: { ...DIN_MILL, family: 'Deckel Dialog 11' },
  deckel3: { ...DIN_MILL, family: 'Deckel Dialog 3' },
  deckel4: { ...DIN_MILL, family: 'Deckel Dialog 4' },
  dyna: { ...ISO_MILL, ...G70, family: 'Dynapath (G-code mode)', note: 'incremental centres assumed' },
  dm: { ...ISO_MILL, ...G70, family: 'Dyna Myte', note: 'incremental centres assumed' },
  eberle: { ...DIN_MILL, family: 'Eberle (DIN 66025)' },
  elexa: { ...ISO_MILL, family: 'Elexa', note: 'Fanuc-type words assumed' },
  fadal: { ...ISO_MILL, tlo: 43, family: 'Fadal (format 2)' },
  fanuc6t: { ...ISO_LATHE, family: 'Fanuc 6T lathe' },
  fanucot: { ...ISO_LATHE, family: 'Fanuc 0T lathe' },
  fanuc10t: { ...ISO_LATHE, family: 'Fanuc 10T lathe' },
  fanuc11m: { ...ISO_MILL, tlo: 43, family: 'Fanuc 11M' },
  fanuc10m: { ...ISO_MILL, tlo: 43, family: 'Fanuc 10M' },
  fanuc12m: { ...ISO_MILL, tlo: 43, family: 'Fanuc 12M' },
  fanuc15m: { ...ISO_MILL, tlo: 43, family: 'Fanuc 15M' },
  fagor: { ...FAGOR, family: 'Fagor 8025M / 8050M' },
  fanuc: { ...ISO_MILL, tlo: 43, family: 'Fanuc 6M / 0M' },
  fanuc6m: { ...ISO_MILL, tlo: 43, family: 'Fanuc 6M' },
  fanucom: { ...ISO_MILL, tlo: 43, family: 'Fanuc 0M' },
  fanucw: { ...ISO_WIRE, taper: TAPER_BC, family: 'Fanuc wire EDM' },
  fidia: { ...DIN_MILL, family: 'Fidia', note: 'ISO words, incremental centres assumed' },
  fidian: { ...DIN_MILL, family: 'Fidia', note: 'ISO words, incremental centres assumed' },
  ge2000m: { ...ISO_MILL, ...G70, family: 'General Electric Mark Century 2000M' },
  // The TNC programs a helix only in polar form (CP with IPA and IZ); a
  // helix may come as CP or as straight moves L.
  h155: { dialect: 'conversational', kind: 'mill', linearise: ['helix'], family: 'Heidenhain TNC 155 plain language' },
  heid: { dialect: 'conversational', kind: 'mill', linearise: ['helix'], family: 'Heidenhain TNC plain language' },
  heid400: { dialect: 'conversational', kind: 'mill', linearise: ['helix'], family: 'Heidenhain TNC 400 plain language' },
  h33: { ...ISO_MILL, family: 'H33', note: 'no family known: traced as a Fanuc-type mill' },
  hauser: { ...DIN_MILL, family: 'Hauser jig borer', note: 'DIN words assumed' },
  heidiso: { ...HEIDENHAIN_ISO, family: 'Heidenhain TNC (ISO programming)' },
  hurco: { ...ISO_MILL, tlo: 43, family: 'Hurco (ISNC G-code)' },
  incon: { ...ISO_MILL, family: 'Incon', note: 'Fanuc-type words assumed' },
  japtw: { ...ISO_WIRE, family: 'Japax wire EDM' },
  kryle: { ...ISO_MILL, family: 'Kryle', note: 'Fanuc-type words assumed' },
  maho: { ...DIN_MILL, family: 'MAHO / Philips 432' },
  ph432: { ...DIN_MILL, family: 'Philips 432' },
  matsura: { ...ISO_MILL, tlo: 43, family: 'Matsuura (Yasnac / Fanuc)' },
  mazak: { ...ISO_MILL, tlo: 43, family: 'Mazak (EIA/ISO programming)' },
  mitsu: { ...ISO_MILL, tlo: 43, family: 'Mitsubishi Meldas M' },
  mitsuw: { ...ISO_WIRE, taper: { ...TAPER_BC, increments: true }, family: 'Mitsubishi wire EDM',
    note: 'taper words assumed to move the upper guide by their amounts' },
  num: { ...NUM760, family: 'NUM 760' },
  okuma: { ...ISO_MILL, workOffsetG15: true, family: 'Okuma OSP (EIA/ISO)' },
  p28m: { ...ISO_MILL, family: 'Posidata', note: 'Fanuc-type words assumed' },
  r2e3: { ...ISO_MILL, ...G70, family: 'Bridgeport R2E3', note: 'ISO words with G70/G71 assumed' },
  robofil: { ...ISO_WIRE, ...G70, taper: TAPER_BC, family: 'Charmilles Robofil wire EDM' },
  roland: { ...ISO_MILL, family: 'Roland (ISO NC code)' },
  siem850: { ...SIEMENS, family: 'Siemens Sinumerik 850M' },
  selca: { ...DIN_MILL, family: 'Selca 3045', note: 'ISO words, incremental centres assumed' },
  servo: { ...ISO_MILL, family: 'Servo', note: 'Fanuc-type words assumed' },
  sodick: { ...ISO_WIRE, family: 'Sodick wire EDM' },
  tcomp: { ...ISO_MILL, family: 'Tcomp', note: 'Fanuc-type words assumed' },
  tiger: { ...ISO_MILL, family: 'Tiger', note: 'Fanuc-type words assumed' },
  standard: { ...ISO_MILL, family: 'generic ISO word-address mill', linearise: ['zx', 'yz'], toolChange: null, tlo: undefined,
    note: 'no controller family: read as a plain ISO mill whose tool word changes the tool; it writes no plane codes, so ZX and YZ arcs may come as lines' },
};

module.exports = { CONTROLS, ISO_MILL, DIN_MILL, ISO_LATHE, ISO_WIRE };
