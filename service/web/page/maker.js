// The stamp maker: picks a template from the service's catalogue (/templates.json), checks the
// text as the service will (its cells, its limits, characters no face can draw), asks the
// service to render through /aosbegin.php as the desktop tool does, shows the picture and
// offers it for download in every format the service serves.
//
// Parts, top to bottom: the service (catalogue, answers and errors in Chinese), the text rules,
// the address (the form's state in the query), the gallery (a template picker any mode of the
// page can use), the maker mode, and the start, which runs the mode <main data-mode> names.
//
// Everything that came from a request or from the user reaches the page through textContent
// or attributes, never as markup.

const $ = (id) => document.getElementById(id);

// ---------------------------------------------------------------------------------------------
// The service

let catalogue = { formats: ['png'], minChars: 2, minSize: 64, maxSize: 2048, templates: [] };
const byId = new Map();

function thumbnailUrl(file, small, retry) {
  const base = small ? `/maker/thumbnails/${catalogue.thumbnailSmall}/` : '/maker/thumbnails/';
  const v = encodeURIComponent(catalogue.thumbnailVersion || '');
  return `${base}${encodeURIComponent(file)}?v=${v}${retry ? `&retry=${retry}` : ''}`;
}

// A thumbnail at the size it is shown: the small picture for plain screens, the full one for
// denser ones.
function setThumbnail(img, template, retry) {
  img.srcset = `${thumbnailUrl(template.thumbnail, true, retry)} ${catalogue.thumbnailSmall}w, ` +
    `${thumbnailUrl(template.thumbnail, false, retry)} 240w`;
  img.src = thumbnailUrl(template.thumbnail, true, retry);
}

// What went wrong, in Chinese, from the answer's status and the service's own (English) text.
function explainFailure(status, detail, retryAfter) {
  if (status === 0) return '无法连接印章服务，请检查网络后再试。';
  if (status === 400) {
    let m = /must have (\d+)(?: to (\d+))? characters/.exec(detail);
    if (m) {
      const most = m[2] || m[1];
      return `文字的字数不合这个模板：需要 ${m[1]} 至 ${most} 个字（两个拉丁字母或数字算一个字）。`;
    }
    if (/control characters/.test(detail)) return '文字里有控制字符，无法刻在印章上。';
    if (/neither UTF-8 nor GBK/.test(detail)) return '文字的编码无法识别。';
    if (/unknown template/.test(detail)) return '没有这个模板，请在图库里重新选择。';
    if (/missing|repeated/.test(detail)) return '请求不完整，请刷新页面后再试。';
    return '印章服务拒绝了这个请求。';
  }
  if (status === 413 || status === 414 || status === 431) return '请求太长，印章服务拒绝了它；请缩短文字。';
  if (status === 429) {
    const wait = Number.parseInt(retryAfter || '', 10);
    return wait > 0 ? `请求太频繁，请 ${wait} 秒后再试。` : '请求太频繁，请稍候再试。';
  }
  if (status === 503) return '印章服务正忙或暂停服务，请稍后再试。';
  if (status === 500) return '印章服务绘制失败，请稍后再试。';
  if (status === 502 || status === 504) return '暂时联系不上印章服务，请稍后再试。';
  return `印章服务出错（HTTP ${status}），请稍后再试。`;
}

// The service answers XML: <outputimg> with the picture path, or <error> with its reason;
// anything in front of it (a proxy, the HTTP layer) may answer plain text.
async function readReply(reply) {
  const body = await reply.text();
  const doc = new DOMParser().parseFromString(body, 'application/xml');
  const picture = doc.querySelector('outputimg');
  if (reply.status === 200 && picture && picture.textContent.trim()) return { path: picture.textContent.trim() };
  const error = doc.querySelector('error');
  const detail = (error ? error.textContent : body).trim().slice(0, 300);
  return {
    status: reply.status,
    detail,
    message: explainFailure(reply.status === 200 ? 500 : reply.status, detail, reply.headers.get('Retry-After')),
  };
}

// Which characters no installed face can draw (GET /glyphs), asked once per text.
const glyphAnswers = new Map();
function missingGlyphs(text) {
  if (!text) return Promise.resolve([]);
  if (!glyphAnswers.has(text)) {
    const asked = fetch(`/glyphs?text=${encodeURIComponent(text)}`)
      .then((r) => (r.ok ? r.json() : { missing: [] }))
      .then((answer) => answer.missing || [])
      .catch(() => {
        glyphAnswers.delete(text);  // ask again once the service answers
        return [];
      });
    glyphAnswers.set(text, asked);
  }
  return glyphAnswers.get(text);
}

// ---------------------------------------------------------------------------------------------
// The text rules, as the service applies them (text::cellCount, decodeStampText)

const isSpace = (c) => c === 0x20 || c === 0x09 || c === 0x3000 || c === 0xa0;
const isControl = (c) => c < 0x20 || (c >= 0x7f && c <= 0x9f) || c === 0x2028 || c === 0x2029;
// Half-width characters share a cell two by two, rounded up per run of them.
const isHalfWidth = (c) => (c >= 0x20 && c <= 0x7e) || c === 0xa0 || (c >= 0xc0 && c <= 0x24f) ||
  (c >= 0xff61 && c <= 0xffdc) || (c >= 0xffe8 && c <= 0xffee);

function trimSpaces(chars) {
  let a = 0;
  let b = chars.length;
  while (a < b && isSpace(chars[a].codePointAt(0))) a += 1;
  while (b > a && isSpace(chars[b - 1].codePointAt(0))) b -= 1;
  return chars.slice(a, b);
}

function cellCount(chars) {
  let cells = 0;
  let run = 0;
  for (const ch of chars) {
    if (isHalfWidth(ch.codePointAt(0))) {
      run += 1;
    } else {
      cells += Math.ceil(run / 2) + 1;
      run = 0;
    }
  }
  return cells + Math.ceil(run / 2);
}

// The text as the service will read it: trimmed, its cells (without the "|line" part of a
// template that has one) and what is wrong with it. `early` leaves out what is only wrong
// because typing has not finished (too few characters, an empty field).
function checkText(value, template, early) {
  const chars = trimSpaces(Array.from(value));
  let counted = chars;
  if (template && template.line) {
    const bar = chars.indexOf('|');
    if (bar >= 0) counted = chars.slice(0, bar);
  }
  const cells = cellCount(counted);
  const capacity = template ? template.capacity : 0;
  let problem = '';
  if (chars.some((ch) => isControl(ch.codePointAt(0)))) problem = '文字里有控制字符，无法刻在印章上。';
  else if (template && cells > capacity) {
    problem = `这个模板最多 ${capacity} 个字，多了 ${cells - capacity} 个（两个拉丁字母或数字算一个字）。`;
  } else if (!early && chars.length === 0) problem = '请输入印章文字。';
  else if (!early && counted.length < catalogue.minChars) problem = `印章文字至少要 ${catalogue.minChars} 个字。`;
  return { text: chars.join(''), cells, capacity, problem };
}

// The size as the service reads it: empty or 0 is the template's own size, else a whole
// number within the limits. Anything else is said, not changed.
function checkSize(value) {
  const raw = value.trim();
  if (raw === '' || /^0+$/.test(raw)) return { size: 0, problem: '' };
  if (!/^\d+$/.test(raw)) {
    return { size: 0, problem: `尺寸要填整数像素：0 为模板默认大小，否则 ${catalogue.minSize} 至 ${catalogue.maxSize}。` };
  }
  const size = Number(raw);
  if (size < catalogue.minSize) return { size, problem: `尺寸最小 ${catalogue.minSize} 像素（0 为模板默认大小）。` };
  if (size > catalogue.maxSize) return { size, problem: `尺寸最大 ${catalogue.maxSize} 像素。` };
  return { size, problem: '' };
}

// ---------------------------------------------------------------------------------------------
// The address: the form's state in the query, so reload, back and a shared link show the
// same stamp.

function readAddress() {
  const q = new URLSearchParams(location.search);
  return { id: Number(q.get('id')) || 0, text: q.get('text') || '', size: q.get('size') || '' };
}

let addressTimer = 0;
function writeAddress(state) {
  clearTimeout(addressTimer);
  // Typing changes the form many times a second; the address follows once it settles.
  addressTimer = setTimeout(() => {
    const q = new URLSearchParams();
    if (state.id) q.set('id', String(state.id));
    if (state.text) q.set('text', state.text);
    if (state.size && state.size.trim() !== '0') q.set('size', state.size.trim());
    const query = q.toString();
    const url = `${location.pathname}${query ? `?${query}` : ''}`;
    if (url !== `${location.pathname}${location.search}`) history.replaceState(history.state, '', url);
  }, 150);
}

// ---------------------------------------------------------------------------------------------
// The gallery: every template as a card with its thumbnail, a search over the titles, one
// choice. Cards are made in slices of a few milliseconds, one a frame, so no task is long.

function createGallery({ box, search, count, empty, onPick, onReady, onFirstScreen }) {
  const cards = [];  // { template, label, input, img, words }
  let selectedCard = null;
  let words = [];

  function matches(card) {
    return words.every((w) => card.words.includes(w));
  }

  // Every card is a copy of one made once: cheaper than making each of its parts.
  const prototype = document.createElement('label');
  prototype.className = 'tpl';
  prototype.innerHTML = '<input type="radio" name="template"><img loading="lazy" decoding="async" alt=""' +
    ' width="128" height="128" sizes="8rem"><span class="tpl-title"></span><span class="tpl-id"></span>';

  function makeCard(template) {
    const label = prototype.cloneNode(true);
    const [input, img, title, id] = label.children;
    input.value = String(template.id);
    setThumbnail(img, template, 0);
    title.textContent = template.title;
    id.textContent = `编号 ${template.id}`;
    const card = { template, label, input, img, words: `${template.title} ${template.id}`.toLowerCase() };
    label.hidden = !matches(card);
    byCard.set(input, card);
    return card;
  }

  const byCard = new Map();  // radio → card
  box.addEventListener('change', (event) => {
    const card = byCard.get(event.target);
    if (card && card.input.checked) onPick(card.template, true);
  });

  function build() {
    const all = catalogue.templates;
    let next = 0;
    let firstScreen = false;
    const slice = () => {
      const started = performance.now();
      const fragment = document.createDocumentFragment();
      // A slice stops after a few milliseconds (a slow phone's few are many more).
      while (next < all.length && (performance.now() - started < 4 || next < FIRST_SCREEN)) {
        const card = makeCard(all[next]);
        cards.push(card);
        if (selectedCard === null && template0 === all[next]) mark(card);
        fragment.append(card.label);
        next += 1;
      }
      box.append(fragment);
      // The first slice fills the first screen: its thumbnails can be timed now.
      if (!firstScreen) {
        firstScreen = true;
        onFirstScreen();
      }
      if (next < all.length) {
        // One slice a frame: the browser lays out each slice's cards before the next is made.
        requestAnimationFrame(() => setTimeout(slice, 0));
      } else {
        applySearch();
        onReady();
      }
    };
    slice();
  }

  let template0 = null;  // chosen before its card exists
  // Cards made at once, enough to fill a large first screen; the rest follow a slice a frame.
  const FIRST_SCREEN = 30;
  function mark(card) {
    if (selectedCard) {
      selectedCard.label.classList.remove('selected');
      selectedCard.input.checked = false;
    }
    selectedCard = card;
    card.label.classList.add('selected');
    card.input.checked = true;
  }

  function select(template) {
    template0 = template;
    const card = cards.find((c) => c.template === template);
    if (card) mark(card);
  }

  function applySearch() {
    words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
    let shown = 0;
    for (const card of cards) {
      const match = matches(card);
      card.label.hidden = !match;
      if (match) shown += 1;
    }
    const total = catalogue.templates.length;
    count.textContent = words.length ? `找到 ${shown} 个模板（共 ${total} 个）` : `共 ${total} 个模板`;
    empty.hidden = shown !== 0;
  }

  // Thumbnails that failed (the service was away) are asked for again once it answers.
  const failed = new Set();
  let probeTimer = 0;
  let probeDelay = 1500;
  function retryFailed() {
    for (const img of failed) {
      const card = cards.find((c) => c.img === img);
      img.dataset.retry = String(Number(img.dataset.retry || 0) + 1);
      if (card) setThumbnail(img, card.template, Number(img.dataset.retry));
    }
    failed.clear();
  }
  async function probe() {
    probeTimer = 0;
    try {
      const reply = await fetch('/healthz', { cache: 'no-store' });
      if (reply.ok) {
        probeDelay = 1500;
        retryFailed();
        return;
      }
    } catch (e) {
      // still away
    }
    probeDelay = Math.min(probeDelay * 1.5, 8000);
    probeTimer = setTimeout(probe, probeDelay);
  }
  box.addEventListener('error', (event) => {
    const img = event.target;
    if (!(img instanceof HTMLImageElement)) return;
    img.closest('.tpl').classList.add('failed');
    failed.add(img);
    if (!probeTimer) probeTimer = setTimeout(probe, probeDelay);
  }, true);
  box.addEventListener('load', (event) => {
    if (event.target instanceof HTMLImageElement) event.target.closest('.tpl').classList.remove('failed');
  }, true);
  window.addEventListener('online', retryFailed);

  search.addEventListener('input', applySearch);

  return {
    build,
    select,
    applySearch,
    serviceAnswered: () => { if (failed.size) retryFailed(); },
    firstVisible: () => cards.find((c) => !c.label.hidden),
    images: () => cards.map((c) => c.img),
  };
}

// The first screen of thumbnails is there when every thumbnail inside the viewport has loaded
// (or failed) and been painted; the mark feeds the benchmark. An IntersectionObserver tells
// which are inside without measuring cards that are not laid out yet.
function markFirstScreen(images) {
  const watch = new IntersectionObserver((entries) => {
    watch.disconnect();
    const inView = entries.filter((e) => e.isIntersecting).map((e) => e.target);
    const pending = inView.map((img) => (img.complete ? Promise.resolve()
      : new Promise((done) => {
        img.addEventListener('load', done, { once: true });
        img.addEventListener('error', done, { once: true });
      })));
    Promise.all(pending).then(() => afterPaint(() => {
      performance.mark('first-thumbnails');
      document.documentElement.dataset.firstThumbnails = String(inView.length);
    }));
  });
  for (const img of images) watch.observe(img);
}

function afterPaint(callback) {
  requestAnimationFrame(() => setTimeout(callback, 0));
}

// A file name that every system accepts, made from the stamp text.
function fileName(text, format) {
  const safe = text.trim().replace(/[\\/:*?"<>|\u0000-\u001f\u007f]/g, '_');
  // At most 100 characters, counted as characters so a pair of UTF-16 halves stays whole.
  const base = Array.from(safe).slice(0, 100).join('') || 'stamp';
  return `${base}.${format}`;
}

// ---------------------------------------------------------------------------------------------
// The maker mode

function startMaker() {
  const form = $('stamp-form');
  const textInput = $('stamp-text');
  const sizeInput = $('stamp-size');
  const generateButton = $('generate');
  const statusLine = $('status');
  const statusDetail = $('status-detail');
  const previewBox = $('preview-box');
  const previewCaption = $('preview-caption');
  const downloads = $('downloads');
  const textCount = $('text-count');
  const textProblem = $('text-problem');
  const sizeProblem = $('size-problem');
  const pickedBar = $('picked-bar');

  let selected = null;
  let shown = null;        // { id, text, size } of the picture in the preview
  let serial = 0;          // the newest generation; older answers that arrive late are dropped
  let inFlight = null;     // its AbortController
  let pickedByHand = false;
  let formInView = true;

  const gallery = createGallery({
    box: $('templates'),
    search: $('search'),
    count: $('gallery-count'),
    empty: $('gallery-empty'),
    onPick: (template) => {
      pickedByHand = true;
      choose(template);
    },
    onReady: () => {
      document.documentElement.dataset.ready = '1';
    },
    onFirstScreen: () => markFirstScreen(gallery.images()),
  });

  function setStatus(text, kind, detail) {
    statusLine.textContent = text;
    statusLine.classList.toggle('error', kind === 'error');
    statusDetail.textContent = detail || '';
    statusDetail.hidden = !detail;
  }

  function showProblem(input, box, problem) {
    box.textContent = problem;
    box.hidden = !problem;
    if (problem) input.setAttribute('aria-invalid', 'true');
    else input.removeAttribute('aria-invalid');
  }

  function currentForm() {
    const text = checkText(textInput.value, selected, true).text;
    const size = checkSize(sizeInput.value);
    // A size the service would not take matches no stamp.
    return { id: selected ? selected.id : 0, text, size: size.problem ? NaN : size.size };
  }

  // The preview and its downloads belong to the form only while the form asks for that stamp.
  function markPreview() {
    if (!shown) return;
    const now = currentForm();
    const same = now.id === shown.id && now.text === shown.text && now.size === shown.size;
    previewBox.classList.toggle('stale', !same);
    downloads.hidden = !same;
    const template = byId.get(shown.id);
    const what = `“${shown.text}”，模板 ${shown.id}：${template ? template.title : ''}`;
    previewCaption.textContent = same ? what : `上一次生成的印章：${what}。与现在填写的不同，按“生成”更新。`;
  }

  // The live check while typing: the count, and what is already certain to be wrong.
  function liveCheck() {
    const check = checkText(textInput.value, selected, true);
    textCount.textContent = `已输入 ${check.cells} / ${check.capacity} 字`;
    textCount.classList.toggle('over', check.cells > check.capacity);
    showProblem(textInput, textProblem, check.problem);
    if (!check.problem && check.text) {
      // Asked at once (each text once), so the answer is usually here before Enter is pressed.
      const text = check.text;
      missingGlyphs(text).then((missing) => {
        if (missing.length && checkText(textInput.value, selected, true).text === text) {
          showProblem(textInput, textProblem, `${missing.join('、')} 无法刻在印章上`);
        }
      });
    }
    markPreview();
    writeAddress({ id: selected ? selected.id : 0, text: textInput.value, size: sizeInput.value });
  }

  // The designer opens with the chosen template's look and the text typed so far.
  $('design-from').addEventListener('click', () => {
    if (selected) $('design-from').href = `/designer.html?tpl=${selected.id}&text=${encodeURIComponent(textInput.value.trim())}`;
  });

  function choose(template) {
    selected = template;
    gallery.select(template);
    $('chosen-title').textContent = `${template.title}（${template.id}）`;
    $('capacity').textContent = `最多 ${template.capacity} 个字`;
    $('design-from').href = `/designer.html?tpl=${template.id}`;
    for (const img of [$('chosen-thumb'), $('picked-thumb')]) {
      img.sizes = img.id === 'chosen-thumb' ? '4rem' : '2.5rem';
      setThumbnail(img, template, 0);
      img.classList.remove('empty');
    }
    $('picked-title').textContent = `${template.title}（${template.id}）`;
    // Room for every cell in Latin letters, the line under the star and spaces; the counter
    // and the check say the real limit.
    textInput.maxLength = template.capacity * 2 + (template.line ? 48 : 8);
    liveCheck();
    updatePickedBar();
  }

  function updatePickedBar() {
    const show = pickedByHand && !formInView && selected !== null;
    pickedBar.hidden = !show;
    document.body.classList.toggle('has-bar', show);
  }

  // Everything the service would refuse, said before asking it; focus goes to the first field
  // that needs a change.
  async function validate(mine) {
    const check = checkText(textInput.value, selected, false);
    const size = checkSize(sizeInput.value);
    let textIssue = check.problem;
    if (!textIssue) {
      const missing = await missingGlyphs(check.text);
      if (mine !== serial) return null;
      if (missing.length) textIssue = `${missing.join('、')} 无法刻在印章上`;
    }
    showProblem(textInput, textProblem, textIssue);
    showProblem(sizeInput, sizeProblem, size.problem);
    if (!selected) return { problem: '请先在图库里选一个模板。' };
    if (textIssue || size.problem) {
      (textIssue ? textInput : sizeInput).focus();
      return { problem: textIssue || size.problem };
    }
    return { id: selected.id, text: check.text, size: size.size, template: selected };
  }

  // started: when the user asked (the submit event's time stamp), for the benchmark's measure.
  async function generate(started) {
    const mine = ++serial;
    if (inFlight) inFlight.abort();
    inFlight = null;
    generateButton.setAttribute('aria-busy', 'true');
    try {
      const want = await validate(mine);
      if (mine !== serial || !want) return;
      if (want.problem) {
        setStatus(`无法生成：${want.problem}`, 'error');
        markPreview();
        return;
      }
      setStatus('正在生成…');
      // A failure is shown only while this is still the latest request.
      const fail = (message, detail) => {
        if (mine !== serial) return;
        setStatus(`生成失败：${message}`, 'error', detail);
        markPreview();
      };
      const control = new AbortController();
      inFlight = control;
      const query = `text=${encodeURIComponent(want.text)}&id=${want.id}&signsize=${want.size}&rnd=${Math.random()}`;
      let answer;
      try {
        const reply = await fetch(`/aosbegin.php?${query}`, { cache: 'no-store', signal: control.signal });
        answer = await readReply(reply);
      } catch (e) {
        // No answer, or one cut off on its way.
        fail(explainFailure(0));
        return;
      }
      if (mine !== serial) return;
      gallery.serviceAnswered();
      if (!answer.path) {
        fail(answer.message, `服务答复（HTTP ${answer.status}）：${answer.detail}`);
        return;
      }
      // The new picture replaces the old one only once it is decoded, so the swap draws at once.
      const next = new Image();
      next.src = new URL(answer.path, location.href).href;
      try {
        await next.decode();
      } catch (e) {
        fail(explainFailure(0));
        return;
      }
      if (mine !== serial) return;
      next.id = 'preview';
      next.alt = `印章预览：${want.text}`;
      $('preview').replaceWith(next);
      showDownloads(answer.path, want.text);
      shown = { id: want.id, text: want.text, size: want.size };
      markPreview();
      setStatus('已生成。');
      afterPaint(() => {
        performance.measure('enter-to-preview', { start: started, end: performance.now() });
      });
    } finally {
      if (mine === serial) {
        generateButton.removeAttribute('aria-busy');
        inFlight = null;
      }
    }
  }

  function showDownloads(path, text) {
    const picture = new URL(path, location.href);
    downloads.replaceChildren();
    for (const format of catalogue.formats) {
      const link = document.createElement('a');
      link.className = 'button';
      link.href = picture.pathname.replace(/\.png$/, `.${format}`);
      link.download = fileName(text, format);
      link.dataset.format = format;
      link.textContent = `下载 ${format.toUpperCase()}`;
      downloads.append(link);
    }
  }

  // Enter and 生成 always take the form as it is now: the button is never disabled, and a new
  // request supersedes the one under way.
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    generate(event.timeStamp);
  });
  textInput.addEventListener('input', liveCheck);
  sizeInput.addEventListener('input', () => {
    showProblem(sizeInput, sizeProblem, checkSize(sizeInput.value).problem);
    markPreview();
    writeAddress({ id: selected ? selected.id : 0, text: textInput.value, size: sizeInput.value });
  });
  // Enter in the search box chooses the first match and moves on to the text, so the keyboard
  // path is: search words, Enter, stamp text, Enter.
  $('search').addEventListener('keydown', (event) => {
    if (event.key !== 'Enter') return;
    event.preventDefault();
    const first = gallery.firstVisible();
    if (first) {
      choose(first.template);
      textInput.focus();
    }
  });
  // Enter on a card in the gallery (arrow keys move between cards) also moves on to the text.
  $('templates').addEventListener('keydown', (event) => {
    if (event.key !== 'Enter' || !(event.target instanceof HTMLInputElement)) return;
    event.preventDefault();
    textInput.focus();
  });
  $('to-form').addEventListener('click', () => {
    form.scrollIntoView({ block: 'start' });
    textInput.focus({ preventScroll: true });
  });
  new IntersectionObserver((entries) => {
    formInView = entries[entries.length - 1].isIntersecting;
    updatePickedBar();
  }).observe(form);

  return {
    start() {
      $('download-link').hidden = !catalogue.downloads;
      const wanted = readAddress();
      textInput.value = wanted.text;
      if (wanted.size) sizeInput.value = wanted.size;
      const template = byId.get(wanted.id) || catalogue.templates[0];
      if (template) choose(template);
      gallery.build();
      // A shared link or a reload shows its stamp again, if the service would draw it.
      if (wanted.text) {
        generate(performance.now());
      } else if (wanted.id && !byId.has(wanted.id)) {
        setStatus('链接里的模板不存在，已改用第一个模板。', 'error');
      }
    },
    failed(message) {
      $('chosen-title').textContent = '无法载入模板目录';
      setStatus(message, 'error');
    },
  };
}

// ---------------------------------------------------------------------------------------------
// Start: load the catalogue, then run the page's mode.

const modes = { maker: startMaker };

async function start() {
  const mode = (modes[document.querySelector('main').dataset.mode] || startMaker)();
  try {
    const reply = await fetch('/templates.json');
    if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
    catalogue = { ...catalogue, ...(await reply.json()) };
  } catch (e) {
    mode.failed('无法载入模板目录，请刷新页面重试。');
    return;
  }
  for (const template of catalogue.templates) byId.set(template.id, template);
  mode.start();
}

start();
