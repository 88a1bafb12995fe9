'use strict';
function traceConversational() { return []; }
module.exports = { traceConversational };
