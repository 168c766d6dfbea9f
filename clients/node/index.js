'use strict';

const { startSidecar, restoreLeftovers, Sidecar } = require('./lib/sidecar');
const { SidecarError } = require('./lib/errors');
const { bindElectronApp } = require('./lib/electron');
const { resolveSidecarPath } = require('./lib/paths');
const { isSupported } = require('./lib/platform');

module.exports = {
  startSidecar, restoreLeftovers, Sidecar, SidecarError, bindElectronApp, resolveSidecarPath, isSupported,
};
