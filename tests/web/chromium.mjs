// Debian's headless Chromium as the sessions drive it: a profile of its
// own below tmp, no sandbox (CI runs as root), and nothing it would fetch
// by itself (updates, sync, QUIC), so that the only requests are the
// session's. resolve is the host resolver rule: which names reach where.
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import { join } from 'node:path';

// Starts the browser: { context, close }, close ending it and removing its profile.
export async function launch(tmp, { auth, resolve = 'MAP * 127.0.0.1' } = {}) {
  const profile = mkdtempSync(join(tmp, 'profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1000, height: 620 },
    ...(auth ? { httpCredentials: { username: auth.split(':')[0], password: auth.slice(auth.indexOf(':') + 1) } } : {}),
    args: [`--host-resolver-rules=${resolve}`, '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const close = async () => {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { context, close };
}
