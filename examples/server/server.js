#!/usr/bin/env node
// The reference server of NibWordLib: what a web application's back end does
// for the object and for the nibword: launcher, small enough to read and adapt.
//
//   node server.js [--port 8080] [--host 127.0.0.1] [--data ./data] [--base http://oa.example]
//
// The data folder:
//   documents/<id>.doc        the documents users edit (put yours here; the id may be Chinese)
//   templates/<name>.doc      the red-header templates
//   uploads/<id>/<n>/         each stored upload: its files and upload.json
//
// The flow (docs/server.md, section 6):
//   1. The page asks to edit a document: POST /api/documents/<id>/edit-session.
//      The server makes a session with a fresh one-time token and answers the
//      nibword: link (and, for pages that host the object themselves, the same
//      settings to apply directly).
//   2. The launcher fetches the job (GET /nib/job?t=<token>), once.
//   3. The object downloads (GET /nib/doc), uploads (POST /nib/up) and the
//      launcher posts events (POST /nib/events), each with the token.
//   4. The page follows the session: GET /api/sessions/<sid>/events (Server-Sent
//      Events) or GET /api/sessions/<sid> (polling).
//   5. When the cycle ends (saved, closed, failed) the token stops working.
//
// What to adapt is marked "ADAPT".

"use strict";

const crypto = require("crypto");
const fs = require("fs");
const path = require("path");
const express = require("express");
const iconv = require("iconv-lite");
const yauzl = require("yauzl");

// ---------------------------------------------------------------------------
// Options

function parseArgs(argv) {
  const options = {
    port: Number(process.env.PORT || 8080),
    host: "127.0.0.1",
    data: path.join(__dirname, "data"),
    base: "",
    pages: path.join(__dirname, ".."),
    limitMb: 20,
    jobTtlSeconds: 600,
  };
  for (let i = 0; i < argv.length; i++) {
    const value = argv[i + 1];
    switch (argv[i]) {
      case "--port": options.port = Number(value); i++; break;
      case "--host": options.host = value; i++; break;
      case "--data": options.data = path.resolve(value); i++; break;
      case "--base": options.base = value.replace(/\/+$/, ""); i++; break;
      case "--pages": options.pages = path.resolve(value); i++; break;
      case "--limit-mb": options.limitMb = Number(value); i++; break;
      case "--job-ttl": options.jobTtlSeconds = Number(value); i++; break;
      default: throw new Error("unknown option " + argv[i]);
    }
  }
  if (!Number.isInteger(options.port) || options.port < 0 || options.port > 65535) throw new Error("bad --port");
  return options;
}

// ---------------------------------------------------------------------------
// Names and files

// Document ids: letters of any script (公文), digits, "_" and "-": safe as file
// names, and the document's name in Word (SetDestBaseFN).
const ID = /^[\p{L}\p{N}_-]{1,64}$/u;
const TEMPLATE = /^[^\\/:*?"<>|\x00-\x1f]{1,100}$/; // template names: no path parts

// Writes `data` to `file` through a temporary file and a rename: a reader never
// sees half a file.
function writeFileAtomic(file, data) {
  const temp = `${file}.${process.pid}.${crypto.randomBytes(4).toString("hex")}.tmp`;
  fs.writeFileSync(temp, data);
  fs.renameSync(temp, file);
}

// An archive entry's name, checked: relative, no "..", no drive, no control characters.
function checkEntryName(name) {
  if (!name || name.length > 260) return "an empty or overlong entry name";
  if (/[\x00-\x1f]/.test(name)) return "an entry name with control characters";
  if (/^[\\/]/.test(name) || /^[A-Za-z]:/.test(name)) return "an absolute entry name: " + name;
  if (name.split(/[\\/]/).some((part) => part === "..")) return "an entry name with \"..\": " + name;
  return null;
}

// The entries of an upload archive. Names carry no UTF-8 flag: they are in the
// client's ANSI code page, GBK on simplified-Chinese Windows (ADAPT: "big5" for
// traditional-Chinese clients).
function readArchive(buffer, encoding = "gbk") {
  return new Promise((resolve, reject) => {
    // decodeStrings: false gives each name as bytes, and leaves checking it to us.
    yauzl.fromBuffer(buffer, { lazyEntries: true, decodeStrings: false, validateEntrySizes: true }, (err, zip) => {
      if (err) return reject(new Error("not a readable ZIP archive: " + err.message));
      const files = [];
      let failed = false;
      const fail = (error) => { if (!failed) { failed = true; zip.close(); reject(error); } };
      zip.on("error", (e) => fail(new Error("a damaged ZIP archive: " + e.message)));
      zip.on("end", () => { if (!failed) resolve(files); });
      zip.on("entry", (entry) => {
        const raw = entry.fileName;
        // A writer that set the UTF-8 flag (bit 11) said so; otherwise the code page.
        const name = (entry.generalPurposeBitFlag & 0x800) ? raw.toString("utf8") : iconv.decode(raw, encoding);
        if (name.endsWith("/")) return zip.readEntry();          // a folder entry: nothing to store
        const bad = checkEntryName(name);
        if (bad) return fail(new Error(bad));
        if (files.some((f) => f.name.toLowerCase() === name.toLowerCase())) return fail(new Error("a repeated entry: " + name));
        zip.openReadStream(entry, (e2, stream) => {
          if (e2) return fail(new Error("an unreadable entry " + name + ": " + e2.message));
          const chunks = [];
          stream.on("data", (c) => chunks.push(c));
          stream.on("error", (e3) => fail(new Error("an unreadable entry " + name + ": " + e3.message)));
          stream.on("end", () => { files.push({ name, data: Buffer.concat(chunks) }); zip.readEntry(); });
        });
      });
      zip.readEntry();
    });
  });
}

// ---------------------------------------------------------------------------
// The application

function createApp(options) {
  const dirs = {
    documents: path.join(options.data, "documents"),
    templates: path.join(options.data, "templates"),
    uploads: path.join(options.data, "uploads"),
  };
  for (const dir of Object.values(dirs)) fs.mkdirSync(dir, { recursive: true });

  const sessions = new Map();   // session id -> session
  const byToken = new Map();    // token -> session

  const app = express();
  app.disable("x-powered-by");

  // The object joins "&isSave=..." to the upload address as it is. Our upload
  // addresses hold a "?" already; one configured without it arrives as
  // "/nib/up&isSave=SaveAndClose": read that as a query too.
  app.use((req, res, next) => {
    const at = req.url.indexOf("&isSave=");
    if (at >= 0 && req.url.lastIndexOf("?", at) < 0) req.url = req.url.slice(0, at) + "?" + req.url.slice(at + 1);
    next();
  });

  // The address the launcher reaches this server by. ADAPT: set --base to the
  // public https address the administrator lists in AllowedOrigins.
  const baseOf = (req) => options.base || `${req.protocol}://${req.get("host")}`;

  // ADAPT: the logged-in user. This reference server has no login: it takes
  // the name a page sends in "X-User" (default 张三). A real server takes the
  // user from its own session and checks the user may edit the document.
  const userOf = (req) => {
    const name = req.get("x-user");
    try { return name ? decodeURIComponent(name) : "张三"; } catch (e) { return "张三"; }
  };

  const refuse = (res, status, reason) => res.status(status).type("text/plain; charset=utf-8").send("ERR " + reason);

  // ----- pages of the examples folder (the sample page and the helper)
  app.get("/", (req, res) => res.redirect("/helper-page.html"));
  for (const page of ["helper-page.html", "nibword.js"]) {
    app.get("/" + page, (req, res) => res.sendFile(path.join(options.pages, page), { headers: { "Cache-Control": "no-cache" } }));
  }

  // ----- documents for the page
  const documentFile = (id) => path.join(dirs.documents, id + ".doc");
  const versionsOf = (id) => {
    const dir = path.join(dirs.uploads, id);
    if (!fs.existsSync(dir)) return [];
    return fs.readdirSync(dir).filter((n) => /^\d+$/.test(n)).map(Number).sort((a, b) => a - b)
      .map((n) => JSON.parse(fs.readFileSync(path.join(dir, String(n), "upload.json"), "utf8")));
  };

  app.get("/api/documents", (req, res) => {
    const ids = fs.readdirSync(dirs.documents).filter((n) => n.endsWith(".doc")).map((n) => n.slice(0, -4)).filter((id) => ID.test(id));
    res.json(ids.map((id) => ({ id, versions: versionsOf(id).length })));
  });

  app.get("/api/documents/:id", (req, res) => {
    const id = req.params.id;
    if (!ID.test(id) || !fs.existsSync(documentFile(id))) return refuse(res, 404, "no such document");
    res.json({ id, versions: versionsOf(id) });
  });

  // ----- 1. start an edit cycle
  // Body (JSON, optional): {"open": ["1", ""]}: the mode (docs/api.md, section 4).
  const MODES = new Set(["1", "2", "3", "5", "6"]);
  app.post("/api/documents/:id/edit-session", express.json({ limit: "16kb", type: () => true }), (req, res) => {
    const id = req.params.id;
    if (!ID.test(id)) return refuse(res, 400, "a bad document id");
    if (!fs.existsSync(documentFile(id))) return refuse(res, 404, "no such document: " + id);
    const open = (req.body && req.body.open) || ["1", ""];
    if (!Array.isArray(open) || open.length !== 2 || !open.every((p) => typeof p === "string") || !MODES.has(open[0]))
      return refuse(res, 400, "\"open\" is [ProcID, ProcID2] with a known ProcID");

    const session = {
      id: crypto.randomBytes(12).toString("hex"),
      token: crypto.randomBytes(16).toString("hex"),
      document: id,
      user: userOf(req),
      open,
      base: baseOf(req),
      created: Date.now(),
      jobFetched: false,
      state: "created",       // created, started, opened, saved, closed, failed
      ended: false,
      notices: [],            // what the page is told, in order: {id, type, data}
      listeners: new Set(),   // open SSE responses
      uploads: 0,
    };
    sessions.set(session.id, session);
    byToken.set(session.token, session);

    const t = session.token;
    const jobAddress = `${session.base}/nib/job?t=${t}`;
    res.status(201).json({
      session: session.id,
      link: "nibword:" + jobAddress,
      job: jobAddress,
      state: `/api/sessions/${session.id}`,
      stream: `/api/sessions/${session.id}/events`,
      // For a page that creates the object itself (ActiveX): the same job.
      direct: jobFor(session),
    });
  });

  // The job: the settings in the order the launcher applies them, every address with the token.
  function jobFor(session) {
    const t = session.token, base = session.base;
    const settings = [
      ["SetDownURL", `${base}/nib/doc?t=${t}`],
      ["SetUpURL", `${base}/nib/up?t=${t}`],      // holds a "?": the object joins "&isSave=..."
      ["SetDestBaseFN", `${session.document}.doc`],
      ["SetUserName", session.user],
      ["setSucceedPrefix", "OK"],
      ["SetFileSizeLmt", options.limitMb * 1000],
    ];
    // A red-header template named like the document, when there is one. ADAPT.
    if (fs.existsSync(path.join(dirs.templates, session.document + ".doc")))
      settings.push(["SetDocTmplDLURL", `${base}/nib/template?t=${t}&name=${encodeURIComponent(session.document)}`]);
    return { settings, open: session.open, events: `${base}/nib/events?t=${t}` };
  }

  // The session a request's token names, or null after refusing it (403 with the reason).
  function sessionOf(req, res) {
    const t = req.query.t;
    const session = typeof t === "string" ? byToken.get(t) : undefined;
    if (!session) { refuse(res, 403, t ? "unknown or expired token" : "no token"); return null; }
    if (session.ended) { refuse(res, 403, "the editing cycle has ended"); return null; }
    return session;
  }

  // ----- the page is told: every notice goes to the SSE listeners and the log
  function notify(session, type, data = {}) {
    const notice = { id: session.notices.length + 1, type, state: session.state, data, at: new Date().toISOString() };
    session.notices.push(notice);
    for (const res of session.listeners) sendNotice(res, notice);
  }
  function sendNotice(res, notice) {
    res.write(`id: ${notice.id}\nevent: ${notice.type}\ndata: ${JSON.stringify(notice)}\n\n`);
  }
  function setState(session, state, type, data) {
    session.state = state;
    notify(session, type, data);
  }
  // The token ends with the cycle: it stays known only to tell why it is refused.
  function endCycle(session) {
    session.ended = true;
  }
  function markStarted(session, by) {
    if (session.state === "created") setState(session, "started", "started", { by });
  }

  // ----- 2. the launcher fetches its job, once
  app.get("/nib/job", (req, res) => {
    const session = sessionOf(req, res);
    if (!session) return;
    if (session.jobFetched) return refuse(res, 403, "this job was fetched already");
    if (Date.now() - session.created > options.jobTtlSeconds * 1000) {
      endCycle(session);
      setState(session, "failed", "failed", { reason: "the job was not fetched in time" });
      return refuse(res, 403, "the job has expired");
    }
    session.jobFetched = true;
    markStarted(session, "job");
    res.set("Cache-Control", "no-store").type("application/json; charset=utf-8").send(JSON.stringify(jobFor(session)));
  });

  // ----- 3a. downloads: the document and its templates
  app.get("/nib/doc", (req, res) => {
    const session = sessionOf(req, res);
    if (!session) return;
    res.sendFile(documentFile(session.document), { headers: { "Cache-Control": "no-cache, no-store" } }, (err) => {
      if (err && !res.headersSent) refuse(res, 404, "the document is gone");
    });
  });

  app.get("/nib/template", (req, res) => {
    const session = sessionOf(req, res);
    if (!session) return;
    const name = String(req.query.name || "");
    if (!TEMPLATE.test(name) || name.includes("..")) return refuse(res, 400, "a bad template name");
    res.sendFile(path.join(dirs.templates, name + ".doc"), { headers: { "Cache-Control": "no-cache, no-store" } }, (err) => {
      if (err && !res.headersSent) refuse(res, 404, "no such template: " + name);
    });
  });

  // ----- 3b. uploads: the raw body, "Content-Type: text/html" whatever it holds
  const raw = express.raw({ type: () => true, limit: options.limitMb + "mb" });
  app.post("/nib/up", (req, res, next) => {
    // The token is checked before the body is read: a refused upload costs nothing.
    const session = sessionOf(req, res);
    if (!session) return req.resume();
    req.session = session;
    next();
  }, raw, async (req, res) => {
    const session = req.session;
    const body = Buffer.isBuffer(req.body) ? req.body : Buffer.alloc(0);
    if (body.length === 0) return refuse(res, 400, "an empty upload");
    const isSave = ["OnlySave", "SaveAndClose"].includes(req.query.isSave) ? req.query.isSave : "";
    let files, kind;
    try {
      if (body.subarray(0, 4).equals(Buffer.from("PK\x03\x04", "latin1"))) {
        kind = "archive";
        files = await readArchive(body);
        if (files.length === 0) return refuse(res, 400, "an archive with no files");
      } else if (session.open[0] === "6") {
        // The overprint uploads (ProcID "6") send the Word document itself.
        kind = "document";
        files = [{ name: `${session.document}.doc`, data: body }];
      } else {
        return refuse(res, 400, "not a ZIP archive");
      }
    } catch (e) {
      return refuse(res, 400, e.message);                 // nothing stored
    }
    try {
      // Which cycle and which of its attempts (the object's headers): a retry names the same cycle.
      const attempt = { cycle: req.get("X-NibWord-Cycle") || "", attempt: Number(req.get("X-NibWord-Attempt")) || 0 };
      const version = storeUpload(session, kind, isSave, files, attempt);
      session.uploads++;
      notify(session, "uploaded", { version, kind, isSave, entries: files.map((f) => f.name) });
      res.type("text/plain; charset=utf-8").send("OK " + version);
    } catch (e) {
      console.error("storing an upload failed:", e);
      refuse(res, 500, "the upload could not be stored");
    }
  });

  // Stores one upload as uploads/<doc>/<n>/: written in a temporary folder,
  // then renamed into place whole. `isSave` is a hint only: whether the user
  // finished editing is told by the events.
  function storeUpload(session, kind, isSave, files, attempt) {
    const docDir = path.join(dirs.uploads, session.document);
    fs.mkdirSync(docDir, { recursive: true });
    const temp = fs.mkdtempSync(path.join(dirs.uploads, ".incoming-"));
    try {
      for (const file of files) {
        const target = path.join(temp, ...file.name.split(/[\\/]/));
        if (!target.startsWith(temp + path.sep)) throw new Error("an entry outside the folder: " + file.name);
        fs.mkdirSync(path.dirname(target), { recursive: true });
        fs.writeFileSync(target, file.data);
      }
      for (let clash = 0; ; clash++) {
        const version = versionsOf(session.document).length + 1 + clash;
        const meta = { version, kind, isSave, ...attempt, session: session.id, user: session.user, received: new Date().toISOString(),
                       entries: files.map((f) => ({ name: f.name, size: f.data.length })) };
        fs.writeFileSync(path.join(temp, "upload.json"), JSON.stringify(meta, null, 2));
        try {
          fs.renameSync(temp, path.join(docDir, String(version)));
          return version;
        } catch (e) {
          if ((e.code !== "ENOTEMPTY" && e.code !== "EEXIST") || clash > 100) throw e;
        }
      }
    } catch (e) {
      fs.rmSync(temp, { recursive: true, force: true });
      throw e;
    }
  }

  // ----- 3c. the launcher's posts: JSON, whatever the Content-Type says
  app.post("/nib/events", (req, res, next) => {
    const session = sessionOf(req, res);
    if (!session) return req.resume();
    req.session = session;
    next();
  }, express.raw({ type: () => true, limit: "1mb" }), (req, res) => {
    const session = req.session;
    let post;
    try {
      let text = Buffer.isBuffer(req.body) ? req.body.toString("utf8") : "";
      if (text.charCodeAt(0) === 0xfeff) text = text.slice(1);
      post = JSON.parse(text);
    } catch (e) {
      return refuse(res, 400, "the body is not JSON");
    }
    if (!post || typeof post !== "object" || Array.isArray(post)) return refuse(res, 400, "the body is not a JSON object");
    const ok = () => res.type("text/plain; charset=utf-8").send("OK");

    if ("started" in post) {
      markStarted(session, "post");
      return ok();
    }
    if ("error" in post) {
      markStarted(session, "post");
      endCycle(session);
      setState(session, "failed", "failed", { error: String(post.error), source: post.source == null ? "" : String(post.source) });
      return ok();
    }
    if ("result" in post) {
      markStarted(session, "post");
      const result = post.result == null ? "" : String(post.result);
      setState(session, "opened", "opened", { result });
      // The unattended mode "3" has uploaded by the time it returns, and ended
      // when the upload succeeded. An empty result means one of two things:
      // the document never opened (nothing to retry), or it opened (the open
      // event came first, with the document) and the upload failed: then Word stays open with the
      // document, and the user's retry (关闭 → 是) uploads with this token.
      if (session.open[0] === "3") {
        if (/^OK:/i.test(result)) {
          endCycle(session);
          setState(session, "saved", "saved", { final: true, height: result.slice(3) });
          notify(session, "closed", { saved: true });
        } else if (session.documentOpened) {
          setState(session, "failed", "failed", { error: "the unattended upload failed; the document stays open for the user's retry", result, retry: true });
        } else {
          endCycle(session);
          setState(session, "failed", "failed", { error: "the document could not be opened", result, retry: false });
        }
      }
      return ok();
    }
    if (Array.isArray(post.event)) {
      const [p1, p2, p3, p4] = post.event.map((v) => (v == null ? null : String(v)));
      markStarted(session, "post");
      notify(session, "event", { args: post.event });
      // The open event: with the document when Word opened it, null when it could not.
      if (p1 === "TempletFN" && p3 === "b") session.documentOpened = p4 !== null;
      if (p1 === "quit" || p1 === "GWQuit") {
        if (p2 === "Save") {
          endCycle(session);
          setState(session, "saved", "saved", { final: true, height: p3 });
          notify(session, "closed", { saved: true });
        } else if (p2 === "TempSave") {
          // Uploaded, and the user goes on editing: not the end of the cycle.
          notify(session, "saved", { final: false, height: p3 });
        } else if (p2 === "NoSave") {
          endCycle(session);
          setState(session, "closed", "closed", { saved: false });
        }
      }
      // The template chooser: answer the chosen template's address, applied at once.
      if (p1 === "TempletFN" && p3 === "a" && p2) {
        const url = `${session.base}/nib/template?t=${session.token}&name=${encodeURIComponent(p2)}`;
        return res.json({ settings: [["SetDocTmplDLURL", url]] });
      }
      return ok();
    }
    return refuse(res, 400, "expected \"started\", \"event\", \"result\" or \"error\"");
  });

  // ----- 4. the page follows its session
  function pageSession(req, res) {
    const session = sessions.get(req.params.sid);
    if (!session) refuse(res, 404, "no such session");
    return session;
  }
  const summary = (s) => ({ session: s.id, document: s.document, state: s.state, ended: s.ended,
                            jobFetched: s.jobFetched, uploads: s.uploads, notices: s.notices });

  app.get("/api/sessions/:sid", (req, res) => {
    const session = pageSession(req, res);
    if (session) res.set("Cache-Control", "no-store").json(summary(session));
  });

  app.get("/api/sessions/:sid/events", (req, res) => {
    const session = pageSession(req, res);
    if (!session) return;
    res.writeHead(200, { "Content-Type": "text/event-stream; charset=utf-8", "Cache-Control": "no-store", Connection: "keep-alive" });
    res.write("retry: 2000\n\n");
    // A reconnecting EventSource says what it saw last; it gets the rest.
    const seen = Number(req.get("last-event-id") || 0) || 0;
    for (const notice of session.notices) if (notice.id > seen) sendNotice(res, notice);
    session.listeners.add(res);
    const ping = setInterval(() => res.write(": ping\n\n"), 15000);
    req.on("close", () => { clearInterval(ping); session.listeners.delete(res); });
  });

  // Sessions are forgotten a day after they were made; unfetched jobs expire sooner.
  const sweep = setInterval(() => {
    const now = Date.now();
    for (const session of sessions.values()) {
      if (!session.jobFetched && !session.ended && now - session.created > options.jobTtlSeconds * 1000 && session.state === "created") {
        byToken.delete(session.token);
      }
      if (now - session.created > 24 * 3600 * 1000) {
        for (const res of session.listeners) res.end();
        sessions.delete(session.id);
        byToken.delete(session.token);
      }
    }
  }, 60000);
  sweep.unref();

  // Errors as a server answers them: a reason, never a stack.
  app.use((err, req, res, next) => {
    if (res.headersSent) return next(err);
    if (err.type === "entity.too.large") return refuse(res, 413, "the body is larger than " + options.limitMb + " MB");
    if (err.type === "entity.parse.failed") return refuse(res, 400, "the body is not JSON");
    console.error(err);
    refuse(res, 500, "internal error");
  });
  app.use((req, res) => refuse(res, 404, "no such address: " + req.method + " " + req.path));

  app.locals.sessions = sessions;
  app.locals.close = () => {
    clearInterval(sweep);
    for (const session of sessions.values()) for (const res of session.listeners) res.end();
  };
  return app;
}

module.exports = { createApp, readArchive, parseArgs };

if (require.main === module) {
  let options;
  try {
    options = parseArgs(process.argv.slice(2));
  } catch (e) {
    console.error(e.message);
    console.error("usage: node server.js [--port N] [--host ADDR] [--data DIR] [--base URL] [--limit-mb N] [--job-ttl SECONDS]");
    process.exit(2);
  }
  const app = createApp(options);
  const server = app.listen(options.port, options.host, () => {
    const { port } = server.address();
    console.log(`NibWord reference server: listening on http://${options.host}:${port} (data: ${options.data})`);
  });
  const stop = () => { app.locals.close(); server.close(() => process.exit(0)); setTimeout(() => process.exit(0), 2000).unref(); };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}
