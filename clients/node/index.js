'use strict';

const { startSidecar, Sidecar, SidecarError } = require('./lib/sidecar');
const { bindElectronApp } = require('./lib/electron');
const { resolveSidecarPath } = require('./lib/paths');

module.exports = { startSidecar, Sidecar, SidecarError, bindElectronApp, resolveSidecarPath };
