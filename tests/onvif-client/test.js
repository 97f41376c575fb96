// A widely used ONVIF client against the simulator's standard camera: its discovery finds the
// camera, it reads the device information with HTTP digest, and a wrong password is refused.
// The package sends its probe to the discovery group; here it goes to IPCAM_BROADCAST_ADDR (a
// loopback address) instead, so no packet leaves the machine.
'use strict';
const assert = require('assert');
const dgram = require('dgram');

const target = process.env.IPCAM_BROADCAST_ADDR;
if (!target || !target.startsWith('127.')) {
  console.error('onvif-client: IPCAM_BROADCAST_ADDR must be a loopback address');
  process.exit(2);
}
const send = dgram.Socket.prototype.send;
let probes = 0;
dgram.Socket.prototype.send = function (msg, offset, length, port, address, callback) {
  if (address !== target) {
    assert.strictEqual(address, '239.255.255.250', 'the only datagram the client sends is its probe');
    this.setBroadcast(true);
    address = target;
    probes++;
  }
  return send.call(this, msg, offset, length, port, address, callback);
};

const { Cam, Discovery } = require('onvif');
const [user, password] = [process.argv[2], process.argv[3]];

function call(cam, method) {
  return new Promise((resolve, reject) => cam[method]((err, value) => (err ? reject(err) : resolve(value))));
}

async function main() {
  const found = await new Promise((resolve, reject) =>
    Discovery.probe({ resolve: false, timeout: 3000 }, (err, cams) => (err ? reject(err) : resolve(cams))));
  assert.ok(probes >= 1, 'a probe was sent');
  const matches = found.map((m) => m.probeMatches.probeMatch);
  assert.strictEqual(matches.length, 1, 'one standard camera answers');
  const url = new URL(String(matches[0].XAddrs).split(' ')[0]);
  assert.strictEqual(url.hostname, '127.0.0.1');
  assert.strictEqual(url.pathname, '/onvif/device_service');
  console.log('found ' + url.href);

  const options = { hostname: url.hostname, port: Number(url.port), path: url.pathname, autoconnect: false,
                    useWSSecurity: false, timeout: 5000 };
  const cam = new Cam({ ...options, username: user, password: password });
  await call(cam, 'getSystemDateAndTime');
  const info = await call(cam, 'getDeviceInformation');
  assert.strictEqual(info.manufacturer, 'SimVision');
  assert.strictEqual(info.model, 'SV-100');
  assert.match(String(info.firmwareVersion), /^\d+(\.\d+)+$/);
  console.log('device information: ' + JSON.stringify(info));

  const wrong = new Cam({ ...options, username: user, password: password + 'x' });
  await assert.rejects(call(wrong, 'getDeviceInformation'), /401|authenticat/i, 'a wrong password is refused');
  console.log('a wrong password is refused');
}

main().then(() => console.log('onvif-client: ok'), (err) => {
  console.error('onvif-client: ' + (err && err.stack ? err.stack : err));
  process.exit(1);
});
