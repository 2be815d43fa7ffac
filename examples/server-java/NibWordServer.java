// The reference server of NibWordLib in Java: what a web application's back
// end does for the object and for the nibword: launcher, small enough to read
// and adapt. It answers as examples/server/server.js does, address for address,
// with the JDK alone (17 or later), run as a single source file:
//
//   java NibWordServer.java [--port 8080] [--host 127.0.0.1] [--data ./data] [--base http://oa.example]
//                           [--pages DIR] [--limit-mb 20] [--job-ttl 600]
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
// The Node server runs on one thread; here requests run at once on a pool (an
// open event stream holds its thread), so every look at or change of the
// sessions is made holding one lock, and never while the network is waited on.
//
// String literals outside ASCII are written as Unicode escapes: the source launcher
// compiles this file in the locale's encoding, which may be ASCII.
//
// What to adapt is marked "ADAPT".

import static java.nio.charset.StandardCharsets.UTF_8;

import com.sun.net.httpserver.Headers;
import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.math.BigDecimal;
import java.math.BigInteger;
import java.net.InetSocketAddress;
import java.net.URI;
import java.net.URLEncoder;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.CodeSource;
import java.security.SecureRandom;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import java.util.zip.GZIPInputStream;
import java.util.zip.InflaterInputStream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipInputStream;

public final class NibWordServer {

    // -----------------------------------------------------------------------
    // Options

    static final class Options {
        double port;
        String host = "127.0.0.1";
        Path data = HERE.resolve("data");
        String base = "";
        Path pages = HERE.getParent();     // the examples folder: helper-page.html and nibword.js
        double limitMb = 20;
        double jobTtlSeconds = 600;
    }

    // The folder of this file: the source launcher names the file it runs; a
    // compiled class has its code source. Else the folder of a checkout's root.
    static final Path HERE = sourceFolder();

    static Path sourceFolder() {
        String source = System.getProperty("jdk.launcher.sourcefile");
        if (source != null) return Path.of(source).toAbsolutePath().normalize().getParent();
        try {
            CodeSource code = NibWordServer.class.getProtectionDomain().getCodeSource();
            Path where = Path.of(code.getLocation().toURI());
            return Files.isDirectory(where) ? where : where.getParent();
        } catch (Exception e) {
            return Path.of("examples", "server-java").toAbsolutePath();
        }
    }

    static Options parseArgs(String[] argv) {
        Options options = new Options();
        String port = System.getenv("PORT");
        options.port = port == null || port.isEmpty() ? 8080 : toNumber(port);
        for (int i = 0; i < argv.length; i++) {
            String option = argv[i];
            String value = i + 1 < argv.length ? argv[i + 1] : null;
            if (!option.matches("--(port|host|data|base|pages|limit-mb|job-ttl)")) {
                throw new IllegalArgumentException("unknown option " + option);
            }
            if (value == null) throw new IllegalArgumentException("a value is missing after " + option);
            i++;
            switch (option) {
                case "--port": options.port = toNumber(value); break;
                case "--host": options.host = value; break;
                case "--data": options.data = Path.of(value).toAbsolutePath().normalize(); break;
                case "--base": options.base = value.replaceAll("/+$", ""); break;
                case "--pages": options.pages = Path.of(value).toAbsolutePath().normalize(); break;
                case "--limit-mb": options.limitMb = amount(value, option); break;
                default: options.jobTtlSeconds = amount(value, option); break;
            }
        }
        if (options.port != Math.floor(options.port) || options.port < 0 || options.port > 65535) {
            throw new IllegalArgumentException("bad --port");
        }
        return options;
    }

    static double amount(String value, String option) {
        double n = toNumber(value);
        if (!Double.isFinite(n) || n < 0) throw new IllegalArgumentException("bad " + option);
        return n;
    }

    // -----------------------------------------------------------------------
    // Names and files

    // Document ids: letters of any script (公文), digits, "_" and "-": safe as file
    // names, and the document's name in Word (SetDestBaseFN).
    static final Pattern ID = Pattern.compile("[\\p{L}\\p{N}_-]{1,64}");
    // Template names: no path parts (at most 100 UTF-16 units, checked apart).
    static final Pattern TEMPLATE = Pattern.compile("[^\\\\/:*?\"<>|\\x00-\\x1f]+");
    static final Pattern CONTROL = Pattern.compile("[\\x00-\\x1f]");
    static final Pattern CHARSET = Pattern.compile(";\\s*charset\\s*=\\s*\"?([^\";\\s]+)", Pattern.CASE_INSENSITIVE);
    static final Set<String> MODES = Set.of("1", "2", "3", "5", "6");   // the ProcIDs a page may ask for (docs/api.md, section 4)

    // The client's ANSI code page, in which the object names archive entries:
    // GBK on simplified-Chinese Windows. ADAPT: Charset.forName("Big5") for
    // traditional-Chinese clients.
    static final Charset CODE_PAGE = Charset.forName("GBK");

    static final String DEFAULT_USER = "\u5f20\u4e09";    // 张三
    static final String TEXT = "text/plain; charset=utf-8";
    static final String JSON = "application/json; charset=utf-8";

    record Entry(String name, byte[] data) {}

    // An upload that is not a usable archive: 400, nothing stored.
    static final class BadArchive extends Exception {
        BadArchive(String reason) { super(reason, null, false, false); }
    }

    // An archive entry's name, checked: relative, no "..", no drive, no control characters.
    static String checkEntryName(String name) {
        if (name.isEmpty() || name.length() > 260) return "an empty or overlong entry name";
        if (CONTROL.matcher(name).find()) return "an entry name with control characters";
        if (name.startsWith("/") || name.startsWith("\\") || name.matches("(?s)[A-Za-z]:.*")) return "an absolute entry name: " + name;
        if (Arrays.asList(name.split("[\\\\/]", -1)).contains("..")) return "an entry name with \"..\": " + name;
        return null;
    }

    // The entries of an upload archive, in its order. ZipInputStream reads a
    // name in `codePage` unless its writer set the UTF-8 flag (bit 11): the
    // object sets none, its names are in the client's code page.
    static List<Entry> readArchive(byte[] zip, Charset codePage) throws BadArchive {
        int listed = directoryCount(zip);
        List<Entry> files = new ArrayList<>();
        int read = 0;
        ZipInputStream in = new ZipInputStream(new ByteArrayInputStream(zip), codePage);
        for (ZipEntry entry; (entry = nextEntry(in, codePage)) != null; read++) {
            String name = entry.getName();
            if (name.endsWith("/")) continue;                  // a folder entry: nothing to store
            String bad = checkEntryName(name);
            if (bad != null) throw new BadArchive(bad);
            for (Entry file : files) {
                if (file.name().toLowerCase(Locale.ROOT).equals(name.toLowerCase(Locale.ROOT))) {
                    throw new BadArchive("a repeated entry: " + name);
                }
            }
            files.add(new Entry(name, entryData(in, entry)));
        }
        if (listed >= 0 && read != listed) {
            throw new BadArchive("a damaged ZIP archive: its directory lists " + listed + " entries, " + read + " were found");
        }
        return files;
    }

    static ZipEntry nextEntry(ZipInputStream in, Charset codePage) throws BadArchive {
        try {
            return in.getNextEntry();
        } catch (IllegalArgumentException e) {
            throw new BadArchive("a damaged ZIP archive: an entry name that is not " + codePage.name() + " text");
        } catch (IOException e) {
            throw new BadArchive("a damaged ZIP archive: " + e.getMessage());
        }
    }

    static byte[] entryData(ZipInputStream in, ZipEntry entry) throws BadArchive {
        String name = entry.getName();
        if (entry.getMethod() != ZipEntry.STORED && entry.getMethod() != ZipEntry.DEFLATED) {
            throw new BadArchive("an unreadable entry " + name + ": unsupported compression method: " + entry.getMethod());
        }
        try {
            return in.readAllBytes();       // checks the entry's size and CRC
        } catch (IOException e) {
            throw new BadArchive("an unreadable entry " + name + ": " + e.getMessage());
        }
    }

    // How many entries the archive's directory lists, from its end record (-1:
    // a ZIP64 archive, which keeps the count elsewhere). ZipInputStream reads
    // the entries one after the other and never looks there: an archive cut
    // short would read as a whole one with fewer entries. The reasons are
    // worded as the Node server's ZIP library words them.
    static int directoryCount(byte[] zip) throws BadArchive {
        for (int at = zip.length - 22; at >= Math.max(0, zip.length - 22 - 20 - 0xFFFF); at--) {
            if (u32(zip, at) != 0x06054b50L) continue;
            int comment = u16(zip, at + 20), expected = zip.length - at - 22;
            if (comment != expected) {
                throw new BadArchive("not a readable ZIP archive: Invalid comment length. Expected: " + expected + ". Found: "
                        + comment + ". Are there extra bytes at the end of the file?"
                        + " Or is the end of central dir signature `PK\u263a\u263b` in the comment?");
            }
            if (at >= 20 && u32(zip, at - 20) == 0x07064b50L) return -1;
            if (u16(zip, at + 4) != 0) {
                throw new BadArchive("not a readable ZIP archive: multi-disk zip files are not supported: found disk number: "
                        + u16(zip, at + 4));
            }
            int count = u16(zip, at + 10);
            long directory = u32(zip, at + 16);
            if (count > 0 && directory + 46 > zip.length) throw new BadArchive("a damaged ZIP archive: unexpected EOF");
            if (count > 0 && u32(zip, (int) directory) != 0x02014b50L) {
                throw new BadArchive("a damaged ZIP archive: invalid central directory file header signature: 0x"
                        + Long.toHexString(u32(zip, (int) directory)));
            }
            return count;
        }
        throw new BadArchive("not a readable ZIP archive: End of central directory record signature not found."
                + " Either not a zip file, or file is truncated.");
    }

    static int u16(byte[] b, int at) {
        return (b[at] & 0xFF) | (b[at + 1] & 0xFF) << 8;
    }

    static long u32(byte[] b, int at) {
        return (u16(b, at) | (long) u16(b, at + 2) << 16);
    }

    static boolean isZip(byte[] body) {
        return body.length >= 4 && body[0] == 'P' && body[1] == 'K' && body[2] == 3 && body[3] == 4;
    }

    static void deleteTree(Path root) {
        try (Stream<Path> paths = Files.walk(root)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        } catch (IOException e) {
            System.err.println("could not remove " + root + ": " + e);
        }
    }

    // -----------------------------------------------------------------------
    // The sessions

    // One editing cycle: its token, its document, and what the page is told.
    static final class Session {
        final String id = randomHex(12);
        final String token = randomHex(16);
        final String document, user, base;
        final List<String> open;                    // [ProcID, ProcID2]
        final long created = System.currentTimeMillis();
        boolean jobFetched;
        String state = "created";                   // created, started, opened, saved, closed, failed
        boolean ended;
        boolean documentOpened;                     // the open event (TempletFN, "b") came
        final List<Map<String, Object>> notices = new ArrayList<>();   // in order: {id, type, state, data, at}
        final Set<Listener> listeners = new HashSet<>();               // open event streams
        int uploads;

        Session(String document, String user, List<String> open, String base) {
            this.document = document;
            this.user = user;
            this.open = open;
            this.base = base;
        }

        // ----- the page is told: every notice goes to the event streams and the log
        void tell(String type, Map<String, Object> data) {
            Map<String, Object> notice = object("id", notices.size() + 1, "type", type, "state", state, "data", data, "at", isoNow());
            notices.add(notice);
            for (Listener listener : listeners) listener.send(notice);
        }

        void setState(String state, String type, Map<String, Object> data) {
            this.state = state;
            tell(type, data);
        }

        // The token ends with the cycle: it stays known only to tell why it is refused.
        void endCycle() {
            ended = true;
        }

        void markStarted(String by) {
            if (state.equals("created")) setState("started", "started", object("by", by));
        }
    }

    // An open event stream: the thread that answers it writes what its queue
    // holds, so telling a page never waits on that page's connection.
    static final class Listener {
        static final String END = new String("end");   // compared by identity: no notice is this object
        final BlockingQueue<String> queue = new LinkedBlockingQueue<>();

        void send(Map<String, Object> notice) {
            queue.add("id: " + notice.get("id") + "\nevent: " + notice.get("type") + "\ndata: " + json(notice) + "\n\n");
        }

        void end() {
            queue.add(END);
        }
    }

    private final Options options;
    private final Path documents, templates, uploads;
    private final Object lock = new Object();          // held for every look at or change of the sessions
    private final Object storing = new Object();       // one upload stored at a time: versions numbered in order
    private final Map<String, Session> sessions = new ConcurrentHashMap<>();   // session id -> session
    private final Map<String, Session> byToken = new ConcurrentHashMap<>();    // token -> session
    private final List<Route> routes;

    NibWordServer(Options options) throws IOException {
        this.options = options;
        documents = Files.createDirectories(options.data.resolve("documents"));
        templates = Files.createDirectories(options.data.resolve("templates"));
        uploads = Files.createDirectories(options.data.resolve("uploads"));
        routes = List.of(
                route("GET", "/", this::home),
                route("GET", "/helper-page.html", c -> page(c, "helper-page.html")),
                route("GET", "/nibword.js", c -> page(c, "nibword.js")),
                route("GET", "/api/documents", this::listDocuments),
                route("GET", "/api/documents/:id", this::showDocument),
                route("POST", "/api/documents/:id/edit-session", this::startSession),
                route("GET", "/nib/job", this::fetchJob),
                route("GET", "/nib/doc", this::downloadDocument),
                route("GET", "/nib/template", this::downloadTemplate),
                route("POST", "/nib/up", this::upload),
                route("POST", "/nib/events", this::postEvent),
                route("GET", "/api/sessions/:sid", this::sessionState),
                route("GET", "/api/sessions/:sid/events", this::sessionEvents));
    }

    // -----------------------------------------------------------------------
    // Requests and replies

    // A request as the handlers see it.
    static final class Call {
        final HttpExchange exchange;
        final String method;
        final String path;                     // as it came (still escaped), the "&isSave" suffix taken off
        final Map<String, Object> query;       // a value is a String, or a List when given twice or with "[]"
        final List<String> params = new ArrayList<>();   // the address's ":id" or ":sid", unescaped

        Call(HttpExchange exchange) {
            this.exchange = exchange;
            method = exchange.getRequestMethod();
            URI uri = exchange.getRequestURI();
            String rawPath = uri.getRawPath() == null ? uri.toString() : uri.getRawPath();
            String raw = rawPath + (uri.getRawQuery() == null ? "" : "?" + uri.getRawQuery());
            // The object joins "&isSave=..." to the upload address as it is. Our upload
            // addresses hold a "?" already; one configured without it arrives as
            // "/nib/up&isSave=SaveAndClose": that is still the upload address. The
            // query is read from the address as it came, as Express reads it.
            int at = raw.indexOf("&isSave=");
            if (at >= 0 && raw.lastIndexOf('?', at) < 0) raw = raw.substring(0, at) + "?" + raw.substring(at + 1);
            path = raw.contains("?") ? raw.substring(0, raw.indexOf('?')) : raw;
            query = parseQuery(uri.getRawQuery());
        }

        String header(String name) {
            return exchange.getRequestHeaders().getFirst(name);
        }

        boolean isHead() {
            return method.equals("HEAD");
        }
    }

    // A request refused: answered "ERR <reason>" with its status.
    static final class Refusal extends Exception {
        final int status;

        Refusal(int status, String reason) {
            super(reason, null, false, false);
            this.status = status;
        }
    }

    interface Handler {
        void handle(Call c) throws Exception;
    }

    record Route(String method, Pattern path, Handler handler) {}

    // As Express matches an address: any letter case, with or without a final
    // "/"; ":name" stands for one part of the path.
    static Route route(String method, String path, Handler handler) {
        StringBuilder regex = new StringBuilder();
        for (String part : path.substring(1).split("/")) {
            if (part.isEmpty()) continue;
            regex.append("/").append(part.startsWith(":") ? "([^/]+?)" : Pattern.quote(part));
        }
        return new Route(method, Pattern.compile(regex + "/?", Pattern.CASE_INSENSITIVE), handler);
    }

    void handle(HttpExchange exchange) {
        Call c = null;
        try {
            c = new Call(exchange);
            dispatch(c);
        } catch (Refusal r) {
            refuse(c, r.status, r.getMessage());
        } catch (Exception | StackOverflowError e) {
            // Errors as a server answers them: a reason, never a stack.
            System.err.println("NibWord server: " + (c == null ? "" : c.method + " " + c.path + ": ") + e);
            e.printStackTrace();
            if (c != null && exchange.getResponseCode() == -1) refuse(c, 500, "internal error");
        } finally {
            exchange.close();
        }
    }

    private void dispatch(Call c) throws Exception {
        String method = c.isHead() ? "GET" : c.method;       // a GET address answers HEAD too, without the body
        for (Route route : routes) {
            Matcher m = route.path().matcher(c.path);
            if (!m.matches()) continue;
            // A broken escape in a path part is an error (Express: 400, which the Node server answers 500).
            for (int i = 1; i <= m.groupCount(); i++) c.params.add(decodeURIComponent(m.group(i)));
            if (!route.method().equals(method)) {
                c.params.clear();
                continue;
            }
            route.handler().handle(c);
            return;
        }
        throw new Refusal(404, "no such address: " + c.method + " " + c.path);
    }

    static void refuse(Call c, int status, String reason) {
        try {
            send(c, status, TEXT, utf8("ERR " + reason));
        } catch (IOException e) {
            // the client is gone
        }
    }

    static void sendText(Call c, String text) throws IOException {
        send(c, 200, TEXT, utf8(text));
    }

    static void sendJson(Call c, int status, Object value, String... headers) throws IOException {
        send(c, status, JSON, utf8(json(value)), headers);
    }

    // Answers `body`, with `headers` as name, value, ... The rest of a body no
    // one read (a refused upload) is read off first, so that a client still
    // sending it gets the answer.
    static void send(Call c, int status, String type, byte[] body, String... headers) throws IOException {
        drain(c);
        Headers reply = c.exchange.getResponseHeaders();
        reply.set("Content-Type", type);
        for (int i = 0; i + 1 < headers.length; i += 2) reply.set(headers[i], headers[i + 1]);
        if (c.isHead() || body.length == 0) {
            c.exchange.sendResponseHeaders(status, -1);
            return;
        }
        c.exchange.sendResponseHeaders(status, body.length);
        try (OutputStream out = c.exchange.getResponseBody()) {
            out.write(body);
        }
    }

    static void drain(Call c) {
        try {
            c.exchange.getRequestBody().transferTo(OutputStream.nullOutputStream());
        } catch (IOException e) {
            // the client is gone
        }
    }

    // A file as the answer; false when there is none. A name starting with "."
    // is none either: Express does not send such files.
    static boolean sendFile(Call c, Path file, String cacheControl) throws IOException {
        String name = file.getFileName().toString();
        if (name.startsWith(".") || !Files.isRegularFile(file)) return false;
        String type = name.endsWith(".doc") ? "application/msword"
                : name.endsWith(".html") ? "text/html; charset=UTF-8"
                : name.endsWith(".js") ? "application/javascript; charset=UTF-8"
                : "application/octet-stream";
        send(c, 200, type, Files.readAllBytes(file), "Cache-Control", cacheControl);
        return true;
    }

    // The body, raw whatever the Content-Type says (gzip and deflate undone, as
    // Express does), refused with 413 when larger than `limit` bytes: at once
    // when its declared length is.
    private byte[] readBody(Call c, long limit) throws IOException, Refusal {
        String encoding = c.header("Content-Encoding") == null ? "identity" : c.header("Content-Encoding").toLowerCase(Locale.ROOT);
        String length = c.header("Content-Length");
        if (encoding.equals("identity") && length != null && Long.parseLong(length.trim()) > limit) throw tooLarge();
        InputStream in = c.exchange.getRequestBody();
        switch (encoding) {
            case "identity": break;
            case "gzip": in = new GZIPInputStream(in); break;
            case "deflate": in = new InflaterInputStream(in); break;
            default: throw new IOException("an unsupported Content-Encoding: " + encoding);   // Express: 415, answered 500
        }
        byte[] body = in.readNBytes((int) Math.min(limit + 1, Integer.MAX_VALUE - 8));
        if (body.length > limit) throw tooLarge();
        return body;
    }

    // Every body over its limit is told with the upload limit, as the Node server tells it.
    private Refusal tooLarge() {
        return new Refusal(413, "the body is larger than " + jsNumber(options.limitMb) + " MB");
    }

    private long uploadLimit() {
        return (long) Math.floor(options.limitMb * 1024 * 1024);
    }

    // The address the launcher reaches this server by. ADAPT: set --base to the
    // public https address the administrator lists in AllowedOrigins.
    private String baseOf(Call c) {
        return !options.base.isEmpty() ? options.base : "http://" + c.header("Host");
    }

    // ADAPT: the logged-in user. This reference server has no login: it takes
    // the name a page sends in "X-User" (default 张三). A real server takes the
    // user from its own session and checks the user may edit the document.
    static String userOf(Call c) {
        String name = c.header("X-User");
        if (name == null || name.isEmpty()) return DEFAULT_USER;
        try {
            return decodeURIComponent(name);
        } catch (IllegalArgumentException e) {
            return DEFAULT_USER;
        }
    }

    // -----------------------------------------------------------------------
    // Pages of the examples folder (the sample page and the helper)

    private void home(Call c) throws IOException {
        // As Express's redirect answers: HTML for a browser, else text.
        String accept = c.header("Accept");
        boolean html = accept != null && accept.contains("text/html");
        String body = html ? "<p>Found. Redirecting to /helper-page.html</p>" : "Found. Redirecting to /helper-page.html";
        send(c, 302, html ? "text/html; charset=utf-8" : TEXT, utf8(body), "Location", "/helper-page.html", "Vary", "Accept");
    }

    private void page(Call c, String name) throws IOException {
        Path file = options.pages.resolve(name);
        if (!sendFile(c, file, "no-cache")) throw new IOException("the page " + file + " is missing");
    }

    // -----------------------------------------------------------------------
    // Documents for the page

    private Path documentFile(String id) {
        return documents.resolve(id + ".doc");
    }

    // The upload.json of every stored version of `id`, in order.
    private List<Object> versionsOf(String id) throws IOException {
        Path dir = uploads.resolve(id);
        List<Object> versions = new ArrayList<>();
        if (!Files.exists(dir)) return versions;
        List<Long> numbers;
        try (Stream<Path> names = Files.list(dir)) {
            numbers = names.map(p -> p.getFileName().toString()).filter(n -> n.matches("[0-9]+"))
                    .map(Long::valueOf).sorted().collect(Collectors.toList());
        }
        for (long n : numbers) {
            byte[] meta = Files.readAllBytes(dir.resolve(Long.toString(n)).resolve("upload.json"));
            versions.add(parseJson(new String(meta, UTF_8)));
        }
        return versions;
    }

    private void listDocuments(Call c) throws IOException {
        List<String> names;
        try (Stream<Path> files = Files.list(documents)) {
            // In the order of their bytes, as Node lists a folder.
            names = files.map(p -> p.getFileName().toString())
                    .sorted(Comparator.comparing(NibWordServer::utf8, Arrays::compareUnsigned)).collect(Collectors.toList());
        }
        List<Object> list = new ArrayList<>();
        for (String name : names) {
            if (!name.endsWith(".doc")) continue;
            String id = name.substring(0, name.length() - 4);
            if (ID.matcher(id).matches()) list.add(object("id", id, "versions", versionsOf(id).size()));
        }
        sendJson(c, 200, list);
    }

    private void showDocument(Call c) throws Exception {
        String id = c.params.get(0);
        if (!ID.matcher(id).matches() || !Files.exists(documentFile(id))) throw new Refusal(404, "no such document");
        sendJson(c, 200, object("id", id, "versions", versionsOf(id)));
    }

    // -----------------------------------------------------------------------
    // 1. start an edit cycle
    // Body (JSON, optional): {"open": ["1", ""]}: the mode (docs/api.md, section 4).

    private void startSession(Call c) throws Exception {
        Object body = readPageJson(c);
        String id = c.params.get(0);
        if (!ID.matcher(id).matches()) throw new Refusal(400, "a bad document id");
        if (!Files.exists(documentFile(id))) throw new Refusal(404, "no such document: " + id);
        Object given = body instanceof Map<?, ?> m ? m.get("open") : null;
        Object open = truthy(given) ? given : List.of("1", "");
        if (!(open instanceof List<?> mode) || mode.size() != 2 || !(mode.get(0) instanceof String) || !(mode.get(1) instanceof String)
                || !MODES.contains(mode.get(0))) {
            throw new Refusal(400, "\"open\" is [ProcID, ProcID2] with a known ProcID");
        }
        Session session = new Session(id, userOf(c), List.of((String) mode.get(0), (String) mode.get(1)), baseOf(c));
        Map<String, Object> direct;
        synchronized (lock) {
            sessions.put(session.id, session);
            byToken.put(session.token, session);
            direct = jobFor(session);
        }
        String jobAddress = session.base + "/nib/job?t=" + session.token;
        sendJson(c, 201, object(
                "session", session.id,
                "link", "nibword:" + jobAddress,
                "job", jobAddress,
                "state", "/api/sessions/" + session.id,
                "stream", "/api/sessions/" + session.id + "/events",
                // For a page that creates the object itself (ActiveX): the same job.
                "direct", direct));
    }

    // The page's JSON, read as Express's JSON parser reads it: empty is {}, only
    // an object or a list is taken, a charset other than UTF-8 is an error.
    private Object readPageJson(Call c) throws IOException, Refusal {
        Matcher charset = CHARSET.matcher(String.valueOf(c.header("Content-Type")));
        if (charset.find() && !charset.group(1).toLowerCase(Locale.ROOT).startsWith("utf-")) {
            throw new IOException("an unsupported charset: " + charset.group(1));     // Express: 415, answered 500
        }
        String text = new String(readBody(c, 16 * 1024), UTF_8);
        if (text.startsWith("\uFEFF")) text = text.substring(1);
        if (text.isEmpty()) return new LinkedHashMap<String, Object>();
        if (!text.matches("(?s)[ \t\n\r]*[{\\[].*")) throw new Refusal(400, "the body is not JSON");
        try {
            return parseJson(text);
        } catch (BadJson e) {
            throw new Refusal(400, "the body is not JSON");
        }
    }

    // The job: the settings in the order the launcher applies them, every address with the token.
    private Map<String, Object> jobFor(Session session) {
        String t = session.token, base = session.base;
        List<Object> settings = new ArrayList<>(List.of(
                List.of("SetDownURL", base + "/nib/doc?t=" + t),
                List.of("SetUpURL", base + "/nib/up?t=" + t),        // holds a "?": the object joins "&isSave=..."
                List.of("SetDestBaseFN", session.document + ".doc"),
                List.of("SetUserName", session.user),
                List.of("setSucceedPrefix", "OK"),
                List.of("SetFileSizeLmt", options.limitMb * 1000)));
        // A red-header template named like the document, when there is one. ADAPT.
        if (Files.exists(templates.resolve(session.document + ".doc"))) {
            settings.add(List.of("SetDocTmplDLURL", templateAddress(session, session.document)));
        }
        return object("settings", settings, "open", session.open, "events", base + "/nib/events?t=" + t);
    }

    static String templateAddress(Session session, String name) {
        return session.base + "/nib/template?t=" + session.token + "&name=" + encodeURIComponent(name);
    }

    // The session a request's token names, or a refusal (403 with the reason). Called holding the lock.
    private Session sessionOf(Call c) throws Refusal {
        Object t = c.query.get("t");
        Session session = t instanceof String token ? byToken.get(token) : null;
        if (session == null) throw new Refusal(403, truthy(t) ? "unknown or expired token" : "no token");
        if (session.ended) throw new Refusal(403, "the editing cycle has ended");
        return session;
    }

    private Session checkedSession(Call c) throws Refusal {
        synchronized (lock) {
            return sessionOf(c);
        }
    }

    // -----------------------------------------------------------------------
    // 2. the launcher fetches its job, once

    private void fetchJob(Call c) throws Exception {
        String job;
        synchronized (lock) {
            Session session = sessionOf(c);
            if (session.jobFetched) throw new Refusal(403, "this job was fetched already");
            if (System.currentTimeMillis() - session.created > options.jobTtlSeconds * 1000) {
                session.endCycle();
                session.setState("failed", "failed", object("reason", "the job was not fetched in time"));
                throw new Refusal(403, "the job has expired");
            }
            session.jobFetched = true;
            session.markStarted("job");
            job = json(jobFor(session));
        }
        send(c, 200, JSON, utf8(job), "Cache-Control", "no-store");
    }

    // -----------------------------------------------------------------------
    // 3a. downloads: the document and its templates

    private void downloadDocument(Call c) throws Exception {
        Session session = checkedSession(c);
        if (!sendFile(c, documentFile(session.document), "no-cache, no-store")) throw new Refusal(404, "the document is gone");
    }

    private void downloadTemplate(Call c) throws Exception {
        checkedSession(c);
        Object given = c.query.get("name");
        String name = truthy(given) ? jsString(given) : "";
        if (!TEMPLATE.matcher(name).matches() || name.length() > 100 || name.contains("..")) {
            throw new Refusal(400, "a bad template name");
        }
        if (!sendFile(c, templates.resolve(name + ".doc"), "no-cache, no-store")) throw new Refusal(404, "no such template: " + name);
    }

    // -----------------------------------------------------------------------
    // 3b. uploads: the raw body, "Content-Type: text/html" whatever it holds

    private void upload(Call c) throws Exception {
        // The token is checked before the body is read: a refused upload costs nothing.
        Session session = checkedSession(c);
        byte[] body = readBody(c, uploadLimit());
        if (body.length == 0) throw new Refusal(400, "an empty upload");
        Object given = c.query.get("isSave");
        String isSave = given instanceof String s && (s.equals("OnlySave") || s.equals("SaveAndClose")) ? s : "";
        String kind;
        List<Entry> files;
        try {
            if (isZip(body)) {
                kind = "archive";
                files = readArchive(body, CODE_PAGE);
                if (files.isEmpty()) throw new Refusal(400, "an archive with no files");
            } else if (session.open.get(0).equals("6")) {
                // The overprint uploads (ProcID "6") send the Word document itself.
                kind = "document";
                files = List.of(new Entry(session.document + ".doc", body));
            } else {
                throw new Refusal(400, "not a ZIP archive");
            }
        } catch (BadArchive e) {
            throw new Refusal(400, e.getMessage());                 // nothing stored
        }
        // Which cycle and which of its attempts (the object's headers): a retry names the same cycle.
        String cycle = c.header("X-NibWord-Cycle") == null ? "" : c.header("X-NibWord-Cycle");
        String attemptHeader = c.header("X-NibWord-Attempt");
        double attempt = attemptHeader == null ? Double.NaN : toNumber(attemptHeader);
        int version;
        try {
            synchronized (storing) {
                version = storeUpload(session, kind, isSave, files, cycle, truthy(attempt) ? attempt : 0);
            }
        } catch (IOException | RuntimeException e) {
            System.err.println("storing an upload failed: " + e);
            e.printStackTrace();
            throw new Refusal(500, "the upload could not be stored");
        }
        synchronized (lock) {
            session.uploads++;
            session.tell("uploaded", object("version", version, "kind", kind, "isSave", isSave,
                    "entries", files.stream().map(Entry::name).collect(Collectors.toList())));
        }
        sendText(c, "OK " + version);
    }

    // Stores one upload as uploads/<doc>/<n>/: written in a temporary folder,
    // then renamed into place whole. `isSave` is a hint only: whether the user
    // finished editing is told by the events.
    // ADAPT: a database or a document store: keep "written whole, then made current at once".
    private int storeUpload(Session session, String kind, String isSave, List<Entry> files, String cycle, double attempt)
            throws IOException {
        Path docDir = Files.createDirectories(uploads.resolve(session.document));
        Path temp = Files.createTempDirectory(uploads, ".incoming-");
        try {
            for (Entry file : files) {
                Path target = temp;
                for (String part : file.name().split("[\\\\/]")) target = target.resolve(part);
                target = target.normalize();
                if (!target.startsWith(temp) || target.equals(temp)) {
                    throw new IOException("an entry outside the folder: " + file.name());
                }
                Files.createDirectories(target.getParent());
                Files.write(target, file.data());
            }
            for (int clash = 0; ; clash++) {
                int version = versionsOf(session.document).size() + 1 + clash;
                List<Object> entries = new ArrayList<>();
                for (Entry file : files) entries.add(object("name", file.name(), "size", file.data().length));
                Map<String, Object> meta = object("version", version, "kind", kind, "isSave", isSave,
                        "cycle", cycle, "attempt", attempt, "session", session.id, "user", session.user,
                        "received", isoNow(), "entries", entries);
                Files.write(temp.resolve("upload.json"), utf8(prettyJson(meta)));
                Path target = docDir.resolve(Integer.toString(version));
                try {
                    Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE);
                    return version;
                } catch (FileSystemException e) {
                    // Two uploads at once may take the same number: the later rename fails and takes the next.
                    if (!Files.isDirectory(target) || clash > 100) throw e;
                }
            }
        } catch (IOException | RuntimeException e) {
            deleteTree(temp);
            throw e;
        }
    }

    // -----------------------------------------------------------------------
    // 3c. the launcher's posts: JSON, whatever the Content-Type says

    private void postEvent(Call c) throws Exception {
        Session session = checkedSession(c);
        String text = new String(readBody(c, 1024 * 1024), UTF_8);
        if (text.startsWith("\uFEFF")) text = text.substring(1);
        Object post;
        try {
            post = parseJson(text);
        } catch (BadJson e) {
            throw new Refusal(400, "the body is not JSON");
        }
        if (!(post instanceof Map<?, ?> fields)) throw new Refusal(400, "the body is not a JSON object");
        Map<String, Object> answer;
        synchronized (lock) {
            answer = takePost(session, fields);
        }
        if (answer != null) sendJson(c, 200, answer);
        else sendText(c, "OK");
    }

    // What a post tells (docs/server.md, 6.6). Returns the settings to answer, or null for "OK".
    private Map<String, Object> takePost(Session session, Map<?, ?> post) throws Refusal {
        if (post.containsKey("started")) {
            session.markStarted("post");
            return null;
        }
        if (post.containsKey("error")) {
            session.markStarted("post");
            session.endCycle();
            Object source = post.get("source");
            session.setState("failed", "failed",
                    object("error", jsString(post.get("error")), "source", source == null ? "" : jsString(source)));
            return null;
        }
        if (post.containsKey("result")) {
            session.markStarted("post");
            takeResult(session, post.get("result") == null ? "" : jsString(post.get("result")));
            return null;
        }
        if (post.get("event") instanceof List<?> args) return takeEvent(session, args);
        throw new Refusal(400, "expected \"started\", \"event\", \"result\" or \"error\"");
    }

    // What OpenFile returned. The unattended mode "3" has uploaded by the time it
    // returns, and ended when the upload succeeded. An empty result means one of
    // two things: the document never opened (nothing to retry), or it opened (the
    // open event came first) and the upload failed: then Word stays open with the
    // document, and the user's retry (关闭 → 是) uploads with this token.
    private static void takeResult(Session session, String result) {
        session.setState("opened", "opened", object("result", result));
        if (!session.open.get(0).equals("3")) return;
        if (result.matches("(?s)[Oo][Kk]:.*")) {
            session.endCycle();
            session.setState("saved", "saved", object("final", true, "height", result.substring(3)));
            session.tell("closed", object("saved", true));
        } else if (session.documentOpened) {
            session.setState("failed", "failed",
                    object("error", "the unattended upload failed; the document stays open for the user's retry",
                           "result", result, "retry", true));
        } else {
            session.endCycle();
            session.setState("failed", "failed",
                    object("error", "the document could not be opened", "result", result, "retry", false));
        }
    }

    // An OnEventStart of the object: P1..P5. Returns the settings to answer, or null.
    private static Map<String, Object> takeEvent(Session session, List<?> args) {
        Object p1 = textOf(args, 0), p2 = textOf(args, 1), p3 = textOf(args, 2), p4 = textOf(args, 3);
        session.markStarted("post");
        session.tell("event", object("args", args));
        // The open event: with the document when Word opened it, null when it could not.
        if ("TempletFN".equals(p1) && "b".equals(p3)) session.documentOpened = p4 != null;
        if ("quit".equals(p1) || "GWQuit".equals(p1)) {
            if ("Save".equals(p2)) {
                session.endCycle();
                session.setState("saved", "saved", object("final", true, "height", p3));
                session.tell("closed", object("saved", true));
            } else if ("TempSave".equals(p2)) {
                // Uploaded, and the user goes on editing: not the end of the cycle.
                session.tell("saved", object("final", false, "height", p3));
            } else if ("NoSave".equals(p2)) {
                session.endCycle();
                session.setState("closed", "closed", object("saved", false));
            }
        }
        // The template chooser: answer the chosen template's address, applied at once.
        if ("TempletFN".equals(p1) && "a".equals(p3) && truthy(p2)) {
            return object("settings", List.of(List.of("SetDocTmplDLURL", templateAddress(session, (String) p2))));
        }
        return null;
    }

    // Argument `i` as text, null as null, and UNDEFINED when there is none (left out of a notice).
    static Object textOf(List<?> args, int i) {
        if (i >= args.size()) return UNDEFINED;
        return args.get(i) == null ? null : jsString(args.get(i));
    }

    // -----------------------------------------------------------------------
    // 4. the page follows its session

    private Session pageSession(Call c) throws Refusal {
        Session session = sessions.get(c.params.get(0));
        if (session == null) throw new Refusal(404, "no such session");
        return session;
    }

    private void sessionState(Call c) throws Exception {
        Session s = pageSession(c);
        String text;
        synchronized (lock) {
            text = json(object("session", s.id, "document", s.document, "state", s.state, "ended", s.ended,
                    "jobFetched", s.jobFetched, "uploads", s.uploads, "notices", s.notices));
        }
        send(c, 200, JSON, utf8(text), "Cache-Control", "no-store");
    }

    private void sessionEvents(Call c) throws Exception {
        Session session = pageSession(c);
        Headers headers = c.exchange.getResponseHeaders();
        headers.set("Content-Type", "text/event-stream; charset=utf-8");
        headers.set("Cache-Control", "no-store");
        headers.set("Connection", "keep-alive");
        if (c.isHead()) {
            c.exchange.sendResponseHeaders(200, -1);
            return;
        }
        c.exchange.sendResponseHeaders(200, 0);         // no length: the stream goes on
        OutputStream out = c.exchange.getResponseBody();
        write(out, "retry: 2000\n\n");
        // A reconnecting EventSource says what it saw last; it gets the rest.
        String lastId = c.header("Last-Event-ID");
        double seen = lastId == null || lastId.isEmpty() ? 0 : toNumber(lastId);
        if (Double.isNaN(seen)) seen = 0;
        Listener listener = new Listener();
        synchronized (lock) {
            for (Map<String, Object> notice : session.notices) if ((int) notice.get("id") > seen) listener.send(notice);
            session.listeners.add(listener);
        }
        try {
            // A comment every 15 seconds keeps proxies from closing a quiet stream.
            for (String text; (text = listener.queue.poll(15, TimeUnit.SECONDS)) != Listener.END; ) {
                write(out, text == null ? ": ping\n\n" : text);
            }
        } catch (IOException | InterruptedException e) {
            // the page went away, or the server stops
        } finally {
            c.exchange.close();         // the stream's end is sent before the server may stop
            synchronized (lock) {
                session.listeners.remove(listener);
            }
        }
    }

    static void write(OutputStream out, String text) throws IOException {
        out.write(utf8(text));
        out.flush();
    }

    // Sessions are forgotten a day after they were made; unfetched jobs expire sooner.
    void sweep() {
        long now = System.currentTimeMillis();
        synchronized (lock) {
            for (Session s : sessions.values()) {
                if (!s.jobFetched && !s.ended && now - s.created > options.jobTtlSeconds * 1000 && s.state.equals("created")) {
                    byToken.remove(s.token);
                }
                if (now - s.created > 24L * 3600 * 1000) {
                    s.listeners.forEach(Listener::end);
                    sessions.remove(s.id);
                    byToken.remove(s.token);
                }
            }
        }
    }

    // Ends every open event stream, and waits (a second at most) until they have ended.
    void close() throws InterruptedException {
        synchronized (lock) {
            for (Session s : sessions.values()) s.listeners.forEach(Listener::end);
        }
        for (int i = 0; i < 50 && openStreams() > 0; i++) Thread.sleep(20);
    }

    private int openStreams() {
        synchronized (lock) {
            return sessions.values().stream().mapToInt(s -> s.listeners.size()).sum();
        }
    }

    // -----------------------------------------------------------------------
    // JavaScript's ways with values, where the posts, the addresses and the
    // options need them, so that this server answers what the Node server does.

    // A member left out of an object, as JavaScript leaves out undefined.
    static final Object UNDEFINED = new Object();

    // What String(value) makes of a parsed JSON value.
    static String jsString(Object value) {
        if (value == null) return "null";
        if (value == UNDEFINED) return "undefined";
        if (value instanceof String s) return s;
        if (value instanceof Number n) return jsNumber(n.doubleValue());
        if (value instanceof Boolean) return value.toString();
        if (value instanceof List<?> list) {
            return list.stream().map(v -> v == null || v == UNDEFINED ? "" : jsString(v)).collect(Collectors.joining(","));
        }
        return "[object Object]";
    }

    // A number as JavaScript writes it: 20, 0.5, 1e+21, 1e-7.
    static String jsNumber(double d) {
        if (Double.isNaN(d)) return "NaN";
        if (Double.isInfinite(d)) return d > 0 ? "Infinity" : "-Infinity";
        if (d == 0) return "0";
        BigDecimal exact = new BigDecimal(Double.toString(Math.abs(d))).stripTrailingZeros();
        String digits = exact.unscaledValue().toString();
        int k = digits.length(), n = k - exact.scale();        // |d| = 0.digits × 10^n
        String text;
        if (k <= n && n <= 21) text = digits + "0".repeat(n - k);
        else if (0 < n && n <= 21) text = digits.substring(0, n) + "." + digits.substring(n);
        else if (-6 < n && n <= 0) text = "0." + "0".repeat(-n) + digits;
        else text = digits.charAt(0) + (k > 1 ? "." + digits.substring(1) : "") + "e" + (n - 1 >= 0 ? "+" : "-") + Math.abs(n - 1);
        return d < 0 ? "-" + text : text;
    }

    // The white space Number() ignores around a number.
    static final Pattern JS_SPACE = Pattern.compile(
            "^[\\s\\u00a0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff]+"
            + "|[\\s\\u00a0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff]+$");

    // What Number(text) makes of a text: "" is 0, what is no number is NaN.
    static double toNumber(String text) {
        String t = JS_SPACE.matcher(text).replaceAll("");
        if (t.isEmpty()) return 0;
        Matcher radix = Pattern.compile("0([xob])([0-9a-f]+)", Pattern.CASE_INSENSITIVE).matcher(t);
        if (radix.matches()) {
            int base = Map.of('x', 16, 'o', 8, 'b', 2).get(Character.toLowerCase(radix.group(1).charAt(0)));
            try {
                return new BigInteger(radix.group(2), base).doubleValue();
            } catch (NumberFormatException e) {
                return Double.NaN;
            }
        }
        if (t.matches("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?")) return Double.parseDouble(t);
        if (t.matches("[+-]?Infinity")) return t.startsWith("-") ? Double.NEGATIVE_INFINITY : Double.POSITIVE_INFINITY;
        return Double.NaN;
    }

    // Whether a condition takes the value as true.
    static boolean truthy(Object value) {
        if (value == null || value == UNDEFINED) return false;
        if (value instanceof Boolean b) return b;
        if (value instanceof Number n) return n.doubleValue() != 0 && !Double.isNaN(n.doubleValue());
        if (value instanceof String s) return !s.isEmpty();
        return true;
    }

    // decodeURIComponent: escapes must be whole UTF-8; else IllegalArgumentException.
    static String decodeURIComponent(String text) {
        if (text.indexOf('%') < 0) return text;
        StringBuilder out = new StringBuilder();
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        for (int i = 0; i < text.length(); ) {
            if (text.charAt(i) != '%') {
                out.append(text.charAt(i++));
                continue;
            }
            bytes.reset();
            for (; i < text.length() && text.charAt(i) == '%'; i += 3) {
                if (i + 2 >= text.length() || hex(text.charAt(i + 1)) < 0 || hex(text.charAt(i + 2)) < 0) {
                    throw new IllegalArgumentException("a malformed escape in " + text);
                }
                bytes.write(hex(text.charAt(i + 1)) * 16 + hex(text.charAt(i + 2)));
            }
            try {
                out.append(UTF_8.newDecoder().decode(ByteBuffer.wrap(bytes.toByteArray())));
            } catch (CharacterCodingException e) {
                throw new IllegalArgumentException("escapes that are no UTF-8 in " + text);
            }
        }
        return out.toString();
    }

    static int hex(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    }

    // encodeURIComponent: URLEncoder's escapes, less those it leaves: a space is
    // %20, and ! ' ( ) ~ stay as they are. Unpaired surrogates are an error there too.
    static String encodeURIComponent(String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            boolean paired = Character.isHighSurrogate(c) && i + 1 < text.length() && Character.isLowSurrogate(text.charAt(i + 1));
            if (paired) i++;
            else if (Character.isSurrogate(c)) throw new IllegalArgumentException("URI malformed");
        }
        return URLEncoder.encode(text, UTF_8).replace("+", "%20").replace("%21", "!").replace("%27", "'")
                .replace("%28", "(").replace("%29", ")").replace("%7E", "~");
    }

    // The query as Express reads it: "+" is a space, a broken escape stays as it
    // is, a name given twice or with brackets ("t[]=") is a list.
    static Map<String, Object> parseQuery(String raw) {
        Map<String, Object> query = new LinkedHashMap<>();
        if (raw == null) return query;
        for (String part : raw.split("&")) {
            if (part.isEmpty()) continue;
            int eq = part.indexOf('=');
            String key = queryText(eq < 0 ? part : part.substring(0, eq));
            String value = eq < 0 ? "" : queryText(part.substring(eq + 1));
            boolean list = key.indexOf('[') > 0;
            if (list) key = key.substring(0, key.indexOf('['));
            if (key.isEmpty()) continue;
            Object before = query.get(key);
            if (before == null && !list) {
                query.put(key, value);
            } else {
                List<String> values = new ArrayList<>();
                if (before instanceof String s) values.add(s);
                if (before instanceof List<?> l) l.forEach(v -> values.add((String) v));
                values.add(value);
                query.put(key, values);
            }
        }
        return query;
    }

    static String queryText(String text) {
        String spaced = text.replace('+', ' ');
        try {
            return decodeURIComponent(spaced);
        } catch (IllegalArgumentException e) {
            return spaced;
        }
    }

    // -----------------------------------------------------------------------
    // JSON, written as JSON.stringify writes it and read as JSON.parse reads it.
    // Objects are LinkedHashMaps (members in order), arrays Lists, numbers
    // Doubles (or any Number), null is null.

    static final class BadJson extends IOException {
        BadJson(String reason) { super(reason); }
    }

    static Map<String, Object> object(Object... namesAndValues) {
        Map<String, Object> map = new LinkedHashMap<>();
        for (int i = 0; i + 1 < namesAndValues.length; i += 2) map.put((String) namesAndValues[i], namesAndValues[i + 1]);
        return map;
    }

    static String json(Object value) {
        StringBuilder out = new StringBuilder();
        writeJson(out, value, null, "");
        return out.toString();
    }

    // Indented by two spaces, as upload.json is written (JSON.stringify(value, null, 2)).
    static String prettyJson(Object value) {
        StringBuilder out = new StringBuilder();
        writeJson(out, value, "  ", "");
        return out.toString();
    }

    static void writeJson(StringBuilder out, Object value, String indent, String at) {
        if (value == null || value == UNDEFINED) out.append("null");
        else if (value instanceof String s) writeString(out, s);
        else if (value instanceof Boolean || value instanceof Integer || value instanceof Long) out.append(value);
        else if (value instanceof Number n) out.append(Double.isFinite(n.doubleValue()) ? jsNumber(n.doubleValue()) : "null");
        else if (value instanceof Map<?, ?> map) {
            List<Map.Entry<?, ?>> members = new ArrayList<>();
            for (Map.Entry<?, ?> e : map.entrySet()) if (e.getValue() != UNDEFINED) members.add(e);
            writeList(out, '{', '}', members, indent, at, (e, inner) -> {
                writeString(out, (String) e.getKey());
                out.append(indent == null ? ":" : ": ");
                writeJson(out, e.getValue(), indent, inner);
            });
        } else if (value instanceof List<?> list) {
            writeList(out, '[', ']', list, indent, at, (v, inner) -> writeJson(out, v, indent, inner));
        } else {
            throw new IllegalArgumentException("no JSON for " + value.getClass());
        }
    }

    interface Item<T> {
        void write(T item, String at);
    }

    static <T> void writeList(StringBuilder out, char open, char close, List<T> items, String indent, String at, Item<T> item) {
        out.append(open);
        if (items.isEmpty()) {
            out.append(close);
            return;
        }
        String inner = indent == null ? "" : at + indent;
        for (int i = 0; i < items.size(); i++) {
            if (i > 0) out.append(',');
            if (indent != null) out.append('\n').append(inner);
            item.write(items.get(i), inner);
        }
        if (indent != null) out.append('\n').append(at);
        out.append(close);
    }

    static void writeString(StringBuilder out, String s) {
        out.append('"');
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            switch (c) {
                case '"': out.append("\\\""); break;
                case '\\': out.append("\\\\"); break;
                case '\b': out.append("\\b"); break;
                case '\f': out.append("\\f"); break;
                case '\n': out.append("\\n"); break;
                case '\r': out.append("\\r"); break;
                case '\t': out.append("\\t"); break;
                default:
                    // Control characters and unpaired surrogates are escaped, as JSON.stringify does.
                    boolean paired = Character.isHighSurrogate(c) ? i + 1 < s.length() && Character.isLowSurrogate(s.charAt(i + 1))
                            : i > 0 && Character.isHighSurrogate(s.charAt(i - 1));
                    if (c < 0x20 || (Character.isSurrogate(c) && !paired)) out.append(String.format("\\u%04x", (int) c));
                    else out.append(c);
            }
        }
        out.append('"');
    }

    static Object parseJson(String text) throws BadJson {
        JsonReader reader = new JsonReader(text);
        Object value = reader.value(0);
        reader.space();
        if (reader.at != text.length()) throw new BadJson("text after the value");
        return value;
    }

    static final class JsonReader {
        private static final Pattern NUMBER = Pattern.compile("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?");
        private final String s;
        int at;

        JsonReader(String s) {
            this.s = s;
        }

        void space() {
            while (at < s.length() && " \t\n\r".indexOf(s.charAt(at)) >= 0) at++;
        }

        Object value(int depth) throws BadJson {
            if (depth > 1000) throw new BadJson("nested too deeply");
            space();
            if (at >= s.length()) throw new BadJson("the text ends early");
            switch (s.charAt(at)) {
                case '{': return object(depth);
                case '[': return array(depth);
                case '"': return string();
                case 't': return word("true", Boolean.TRUE);
                case 'f': return word("false", Boolean.FALSE);
                case 'n': return word("null", null);
                default: return number();
            }
        }

        private Map<String, Object> object(int depth) throws BadJson {
            Map<String, Object> map = new LinkedHashMap<>();
            at++;
            space();
            if (take('}')) return map;
            do {
                space();
                if (at >= s.length() || s.charAt(at) != '"') throw new BadJson("a member name expected");
                String name = string();
                space();
                if (!take(':')) throw new BadJson("\":\" expected");
                map.put(name, value(depth + 1));
                space();
            } while (take(','));
            if (!take('}')) throw new BadJson("\"}\" expected");
            return map;
        }

        private List<Object> array(int depth) throws BadJson {
            List<Object> list = new ArrayList<>();
            at++;
            space();
            if (take(']')) return list;
            do {
                list.add(value(depth + 1));
                space();
            } while (take(','));
            if (!take(']')) throw new BadJson("\"]\" expected");
            return list;
        }

        private String string() throws BadJson {
            StringBuilder out = new StringBuilder();
            at++;
            while (true) {
                if (at >= s.length()) throw new BadJson("an unterminated string");
                char c = s.charAt(at++);
                if (c == '"') return out.toString();
                if (c < 0x20) throw new BadJson("a control character in a string");
                if (c != '\\') {
                    out.append(c);
                    continue;
                }
                if (at >= s.length()) throw new BadJson("an unterminated string");
                char e = s.charAt(at++);
                switch (e) {
                    case '"': case '\\': case '/': out.append(e); break;
                    case 'b': out.append('\b'); break;
                    case 'f': out.append('\f'); break;
                    case 'n': out.append('\n'); break;
                    case 'r': out.append('\r'); break;
                    case 't': out.append('\t'); break;
                    case 'u':
                        if (at + 4 > s.length()) throw new BadJson("a short \\u escape");
                        int code = 0;
                        for (int i = 0; i < 4; i++) {
                            int digit = hex(s.charAt(at++));
                            if (digit < 0) throw new BadJson("a bad \\u escape");
                            code = code * 16 + digit;
                        }
                        out.append((char) code);
                        break;
                    default: throw new BadJson("a bad escape");
                }
            }
        }

        private Object word(String word, Object value) throws BadJson {
            if (!s.startsWith(word, at)) throw new BadJson("an unknown word");
            at += word.length();
            return value;
        }

        private Double number() throws BadJson {
            Matcher m = NUMBER.matcher(s).region(at, s.length());
            if (!m.lookingAt()) throw new BadJson("a value expected");
            at = m.end();
            return Double.parseDouble(m.group());
        }

        private boolean take(char c) {
            if (at < s.length() && s.charAt(at) == c) {
                at++;
                return true;
            }
            return false;
        }
    }

    // -----------------------------------------------------------------------
    // Small helpers

    static final SecureRandom RANDOM = new SecureRandom();
    static final DateTimeFormatter ISO = DateTimeFormatter.ofPattern("yyyy-MM-dd'T'HH:mm:ss.SSS'Z'").withZone(ZoneOffset.UTC);

    static String randomHex(int bytes) {
        byte[] b = new byte[bytes];
        RANDOM.nextBytes(b);
        StringBuilder out = new StringBuilder();
        for (byte x : b) out.append(String.format("%02x", x));
        return out.toString();
    }

    // The time as Date.toISOString() writes it: 2026-01-09T08:30:00.000Z.
    static String isoNow() {
        return ISO.format(java.time.Instant.now());
    }

    static byte[] utf8(String text) {
        return text.getBytes(UTF_8);
    }

    // -----------------------------------------------------------------------
    // Starting and stopping

    // Document ids and entry names are Chinese (公文.doc), and the JVM names files
    // in the encoding of the locale it started in: under the C or POSIX locale
    // that is ASCII, and such files cannot be made at all. Then the server runs
    // itself again under C.UTF-8, passing on its arguments, signals and exit code.
    // Returns false when this process is to serve.
    static boolean ranUnderUtf8(String[] argv) throws Exception {
        String names = System.getProperty("sun.jnu.encoding", "UTF-8");
        if (names.equalsIgnoreCase("UTF-8") || System.getenv("NIB_UTF8_RESTART") != null) return false;
        ProcessHandle.Info self = ProcessHandle.current().info();
        List<String> command = new ArrayList<>();
        command.add(self.command().orElse(Path.of(System.getProperty("java.home"), "bin", "java").toString()));
        String[] arguments = self.arguments().orElseThrow(() -> new IOException("cannot restart under C.UTF-8: no arguments"));
        command.addAll(Arrays.asList(arguments));
        ProcessBuilder builder = new ProcessBuilder(command).inheritIO();
        builder.environment().put("LC_ALL", "C.UTF-8");
        builder.environment().put("NIB_UTF8_RESTART", "1");
        Process child = builder.start();
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            child.destroy();
            try {
                child.waitFor(5, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                // stopping anyway
            }
        }));
        System.exit(child.waitFor());
        return true;
    }

    public static void main(String[] argv) throws Exception {
        if (ranUnderUtf8(argv)) return;
        Options options;
        try {
            options = parseArgs(argv);
        } catch (IllegalArgumentException e) {
            System.err.println(e.getMessage());
            System.err.println("usage: java NibWordServer.java [--port N] [--host ADDR] [--data DIR] [--base URL] [--pages DIR]"
                    + " [--limit-mb N] [--job-ttl SECONDS]");
            System.exit(2);
            return;
        }
        NibWordServer app = new NibWordServer(options);
        System.setProperty("sun.net.httpserver.nodelay", "true");       // an event goes out at once, not with the next
        HttpServer server = HttpServer.create(new InetSocketAddress(options.host, (int) options.port), 0);
        ExecutorService pool = Executors.newCachedThreadPool();           // each open event stream holds a thread
        server.setExecutor(pool);
        server.createContext("/", app::handle);
        ScheduledExecutorService sweeper = Executors.newSingleThreadScheduledExecutor(task -> {
            Thread thread = new Thread(task, "sweep");
            thread.setDaemon(true);
            return thread;
        });
        sweeper.scheduleAtFixedRate(app::sweep, 60, 60, TimeUnit.SECONDS);
        server.start();
        System.out.println("NibWord reference server: listening on http://" + options.host + ":" + server.getAddress().getPort()
                + " (data: " + options.data + ")");
        System.out.flush();
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            sweeper.shutdownNow();
            try {
                app.close();
                server.stop(0);
                pool.shutdownNow();
                pool.awaitTermination(2, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                // stopping anyway
            }
        }));
    }
}
