// What the browser tests share: the reference server in a fresh data folder,
// Chromium through playwright-core, and a ZIP writer that names entries as the
// object does (client code page, no UTF-8 flag).
"use strict";

const { spawn } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");

const ROOT = path.resolve(__dirname, "..", "..");
const SERVER = path.join(ROOT, "examples", "server", "server.js");
const CHROMIUM = process.env.NIB_CHROMIUM || "/usr/bin/chromium";

function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// The reference servers, each started as its README says, on a free port of
// 127.0.0.1. NIB_SERVER (node, java, php) chooses which the tests run against.
const SERVER_KIND = process.env.NIB_SERVER || "node";
const JAVA_SERVER = path.join(ROOT, "examples", "server-java", "NibWordServer.java");
const PHP_SERVER = path.join(ROOT, "examples", "server-php", "server.php");

// A port no one listens on now (for php -S, which cannot choose one itself).
function freePort() {
  const net = require("node:net");
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once("error", reject);
    probe.listen(0, "127.0.0.1", () => { const { port } = probe.address(); probe.close(() => resolve(port)); });
  });
}

// The command that starts the `kind` server on `data`, and how its start line reads.
async function serverCommand(kind, data, options) {
  const extra = [];
  if (options.limitMb) extra.push("--limit-mb", String(options.limitMb));
  if (kind === "node") {
    return { file: process.execPath, args: [SERVER, "--port", "0", "--host", "127.0.0.1", "--data", data, ...extra],
             listening: /listening on (http:\/\/127\.0\.0\.1:\d+)/ };
  }
  if (kind === "java") {
    return { file: "java", args: [JAVA_SERVER, "--port", "0", "--host", "127.0.0.1", "--data", data, ...extra],
             listening: /listening on (http:\/\/127\.0\.0\.1:\d+)/ };
  }
  if (kind === "php") {
    const port = await freePort();
    const env = { NIB_DATA: data, PHP_CLI_SERVER_WORKERS: "4" };
    if (options.limitMb) env.NIB_LIMIT_MB = String(options.limitMb);
    return { file: "php", args: ["-d", "post_max_size=64M", "-S", `127.0.0.1:${port}`, PHP_SERVER], env,
             listening: /Development Server \((http:\/\/127\.0\.0\.1:\d+)\) started/ };
  }
  throw new Error("NIB_SERVER is node, java or php, not " + kind);
}

// Starts the reference server (`options.kind`, default NIB_SERVER) with
// `documents` ({id: contents}) in a fresh data folder. Resolves {base, data, stop}.
async function startServer(documents = {}, options = {}) {
  const kind = options.kind || SERVER_KIND;
  const data = tempDir("nibword-data-");
  fs.mkdirSync(path.join(data, "documents"), { recursive: true });
  for (const [id, contents] of Object.entries(documents)) fs.writeFileSync(path.join(data, "documents", id + ".doc"), contents);
  const command = await serverCommand(kind, data, options);
  // A process group of its own: php -S runs its workers as children, and they
  // must end with it.
  const child = spawn(command.file, command.args, { stdio: ["ignore", "pipe", "pipe"], detached: true,
                                                    env: { ...process.env, ...command.env } });
  let output = "";
  const base = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`the ${kind} server did not start: ` + output)), 30000);
    const read = (chunk) => {
      output += chunk;
      const m = command.listening.exec(output);
      if (m) { clearTimeout(timer); resolve(m[1]); }
    };
    child.stdout.on("data", read);
    child.stderr.on("data", read);
    child.on("error", (e) => { clearTimeout(timer); reject(new Error(`the ${kind} server could not start: ${e.message}`)); });
    child.on("exit", (code) => { clearTimeout(timer); reject(new Error(`the ${kind} server exited (${code}): ${output}`)); });
  });
  child.removeAllListeners("exit");
  const exited = new Promise((resolve) => child.on("exit", resolve));
  return {
    base,
    data,
    output: () => output,
    async stop() {
      const signal = (name) => { try { process.kill(-child.pid, name); } catch { /* the group is gone */ } };
      signal("SIGTERM");
      const timer = setTimeout(() => signal("SIGKILL"), 5000);
      await exited;
      clearTimeout(timer);
      signal("SIGKILL");  // what the server left running (a worker still answering)
      fs.rmSync(data, { recursive: true, force: true });
    },
  };
}

// Chromium with a fresh profile; resolves {context, close}.
async function launchBrowser() {
  const { chromium } = require("playwright-core");
  const profile = tempDir("nibword-chromium-");
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A ZIP archive of `entries` ([{name: Buffer, data: Buffer}]): general flag 0
// (no UTF-8 flag), deflate, sizes and CRC in the local headers.
function makeZip(entries) {
  const locals = [], centrals = [];
  let offset = 0;
  for (const { name, data } of entries) {
    const packed = zlib.deflateRawSync(data, { level: 6 });
    const crc = zlib.crc32(data);
    const local = Buffer.alloc(30);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(20, 4);          // version needed
    local.writeUInt16LE(0, 6);           // flags: no UTF-8 flag
    local.writeUInt16LE(8, 8);           // deflate
    local.writeUInt16LE(0x6000, 10);     // 12:00
    local.writeUInt16LE(0x5b89, 12);     // 2025-12-09
    local.writeUInt32LE(crc, 14);
    local.writeUInt32LE(packed.length, 18);
    local.writeUInt32LE(data.length, 22);
    local.writeUInt16LE(name.length, 26);
    local.writeUInt16LE(0, 28);
    locals.push(local, name, packed);
    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4);
    local.copy(central, 6, 4, 30);       // version needed .. name length
    central.writeUInt32LE(offset, 42);
    centrals.push(central, name);
    offset += local.length + name.length + packed.length;
  }
  const dir = Buffer.concat(centrals);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(entries.length, 8);
  end.writeUInt16LE(entries.length, 10);
  end.writeUInt32LE(dir.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...locals, dir, end]);
}

// Every file under `dir`, relative, "/"-separated.
function filesUnder(dir) {
  if (!fs.existsSync(dir)) return [];
  const out = [];
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) for (const f of filesUnder(full)) out.push(entry.name + "/" + f);
    else out.push(entry.name);
  }
  return out.sort();
}

// POSTs `body` as the object and the launcher do.
function post(url, body, type = "text/html") {
  return fetch(url, { method: "POST", headers: { "Content-Type": type }, body });
}

module.exports = { ROOT, SERVER_KIND, startServer, launchBrowser, makeZip, filesUnder, post, tempDir };
