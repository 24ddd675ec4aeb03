// The pages of -O as a reader opens them: from disk, in headless Chromium
// with WebGL through SwiftShader.
//   node page_test.mjs vorn test_data shared_data structures work_dir
// Exit status 77: skipped (no Chromium, no playwright-core or no structures).
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const [vorn, testData, shared, structures, work] = process.argv.slice(2);
const require = createRequire(import.meta.url);
let chromium;
try {
  ({ chromium } = require(path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../web/node_modules/playwright-core')));
} catch {
  console.log('SKIP: playwright-core is not installed (scripts/deps.sh --tests)');
  process.exit(77);
}
if (!fs.existsSync('/usr/bin/chromium') || !fs.existsSync(`${structures}/tut/1hpv.pdb`)) {
  console.log('SKIP: needs /usr/bin/chromium and the structures of pymol-data');
  process.exit(77);
}
fs.mkdirSync(work, { recursive: true });
const matrix = `${testData}/raw_blosum62_tri.txt`;
const hiv = `${testData}/../../examples/1hpv_n25.hssp`;
let failures = 0;
const check = (ok, what) => { if (!ok) { failures++; console.log('FAIL: ' + what); } };

function run(name, args, env = {}) {
  const r = spawnSync(vorn, [...args, '-q', `-O=${work}/${name}`], { env: { ...process.env, ...env }, encoding: 'utf8' });
  check(r.status === 0, `${name}: vorn exits 0 (${r.stdout.slice(-300)})`);
  // nr and the fields after "xx": score, and with -S Z-scores and P-values.
  const lines = r.stdout.split('\n').filter((l) => / xx /.test(l)).map((l) => {
    const after = l.split(' xx ')[1].trim().split(/\s+/);
    return { nr: l.trim().split(/\s+/)[0], score: after[0], z: after[1] === '[]' ? '' : after[1] };
  });
  return { lines, err: r.stderr, html: `${work}/${name}.html` };
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic'],
});

// Opens a page and checks what every page must hold; returns it for more.
async function open(name, result, shuffled) {
  const page = await browser.newPage({ viewport: { width: 1200, height: 1000 } });
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('request', (q) => { if (!q.url().startsWith('file:')) errors.push('a request: ' + q.url()); });
  await page.goto('file://' + result.html);
  const got = await page.evaluate(() => ({
    rows: [...document.querySelectorAll('#table tbody tr')].map((tr) => [...tr.cells].map((c) => c.textContent)),
    head: [...document.querySelectorAll('#table th')].map((th) => th.textContent),
    marks: [...document.querySelectorAll('#profile circle.mark.score')]
      .map((m) => [m.dataset.nr, m.getAttribute('fill'), m.getAttribute('stroke') === '#000']),
    best: window.vornPage.best().map((i) => window.vornPage.rows[i].score),
    grades: window.vornPage.palette.grades,
    wrong: !!document.querySelector('#wrong-structure'),
  }));
  check(errors.length === 0, `${name}: no console error (${errors.join('; ')})`);
  check(got.rows.length === result.lines.length && result.lines.length > 0,
    `${name}: ${got.rows.length} table rows for ${result.lines.length} result lines`);
  const col = (t) => got.head.indexOf(t);
  // The table opens best score first; each line is there once, conserved columns read so.
  const byColumn = new Map(got.rows.map((r) => [r[col('Column')], r]));
  const opened = got.rows.map((r) => parseFloat(r[col('Score')]));
  check(opened.every((v, i) => i === 0 || isNaN(v) || opened[i - 1] >= v), `${name}: the table opens sorted by score`);
  result.lines.forEach((l) => {
    const row = byColumn.get(l.nr) || [];
    const shown = l.score === '-2.0000' ? 'conserved' : l.score;
    check(row[col('Score')] === shown, `${name}: column ${l.nr} ${row} is ${l.score}`);
    if (shuffled) check(row[col('Z')] === l.z, `${name}: column ${l.nr} Z ${row[col('Z')]} is ${l.z}`);
  });
  // A score mark per scored row, in its grade's colour, outlined exactly where its q is 0.05 or less.
  const scored = got.rows.filter((r) => r[col('Class')] === 'scored').sort((a, b) => a[col('Column')] - b[col('Column')]);
  check(got.marks.length === scored.length && got.marks.every((m, i) => m[0] === scored[i][col('Column')] &&
    m[1] === got.grades[parseInt(scored[i][col('Grade')], 10) - 1]), `${name}: the profile's score marks are the scored rows, by grade`);
  // The ten labelled in 3D are the ten best scores of residues.
  const top = result.lines.filter((l) => parseFloat(l.score) >= -1).map((l) => parseFloat(l.score)).sort((a, b) => b - a);
  check(got.best.length === (got.wrong ? 0 : Math.min(10, top.length)) && got.best.every((s, i) => parseFloat(s) === top[i]),
    `${name}: the ten best are ${got.best}`);
  if (shuffled)
    check(got.marks.every((m, i) => m[2] === (parseFloat(scored[i][col('q')]) <= 0.05)),
      `${name}: outlined marks are the rows with q <= 0.05`);
  return page;
}

// The 3D view: not blank, and a click on the best row highlights and centres its residue.
async function viewer(name, page) {
  const blank = await page.evaluate(async () => {
    const img = new Image();
    img.src = window.vornPage.viewer().pngURI();
    await img.decode();
    const c = document.createElement('canvas');
    c.width = img.width; c.height = img.height;
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0);
    const d = g.getImageData(0, 0, c.width, c.height).data;
    let sum = 0, sq = 0, coloured = 0;
    for (let i = 0; i < d.length; i += 4) {
      const y = (d[i] + d[i + 1] + d[i + 2]) / 3;
      sum += y; sq += y * y; coloured += d[i] !== d[i + 1] || d[i + 1] !== d[i + 2];
    }
    const n = d.length / 4;
    return { sd: Math.sqrt(sq / n - (sum / n) ** 2), coloured: coloured / n };
  });
  check(blank.sd > 15 && blank.coloured > 0.02, `${name}: the 3D view is drawn (sd ${blank.sd}, coloured ${blank.coloured})`);
  await page.click(`#table tbody tr[data-i="${await page.evaluate(() => window.vornPage.best()[0])}"]`);
  const sel = await page.evaluate(() => {
    const p = window.vornPage, v = p.viewer(), r = p.rows[p.selected()];
    const atoms = v.selectedAtoms({ chain: r.schain, resi: r.num });
    const centre = [0, 1, 2].map((k) => atoms.reduce((s, a) => s + [a.x, a.y, a.z][k], 0) / atoms.length);
    const best = Math.max(...p.rows.filter((x) => x.cls === 's').map((x) => parseFloat(x.score)));
    return { score: parseFloat(r.score), best, atoms: atoms.length,
      // A colour function left beside the colour would draw the residue in its own colour.
      lit: atoms.every((a) => a.style.stick && a.style.stick.color === p.HIGHLIGHT && !a.style.stick.colorfunc),
      off: Math.hypot(...v.getView().slice(0, 3).map((x, k) => x + centre[k])) };
  });
  check(sel.score === sel.best && sel.atoms > 0 && sel.lit && sel.off < 0.01,
    `${name}: the best row's residue is highlighted and centred (${JSON.stringify(sel)})`);
  // A click on a residue in 3D selects its row: tried on the best residues'
  // atoms in turn, as one may hide behind another residue.
  let picked = false;
  for (let k = 0; k < 5 && !picked; k++) {
    await page.evaluate(() => window.vornPage.select(0, 'test'));
    await page.locator('#viewer').scrollIntoViewIfNeeded();
    // The rows with an atom within 12 pixels of the click, before the view moves to the one picked.
    const at = await page.evaluate((k) => {
      const p = window.vornPage, v = p.viewer(), r = p.rows[p.best()[k]];
      const page = (a) => { const s = v.modelToScreen(a); return { x: s.x - window.scrollX, y: s.y - window.scrollY }; };
      const c = page(v.selectedAtoms({ chain: r.schain, resi: r.num, atom: 'CA' })[0]);
      const near = p.rows.map((x, i) => [x, i]).filter(([x]) => x.num !== null && v.selectedAtoms({ chain: x.schain, resi: x.num })
        .some((a) => { const s = page(a); return Math.hypot(s.x - c.x, s.y - c.y) < 12; })).map(([, i]) => i);
      return { ...c, near };
    }, k);
    await page.mouse.click(at.x, at.y);
    picked = await page.evaluate((near) => window.vornPage.selected() !== 0 && near.includes(window.vornPage.selected()), at.near);
  }
  check(picked, `${name}: a click on a residue in 3D selects its row`);
  await page.screenshot({ path: `${work}/${name}.png` });
}

const mapping = (page) => page.evaluate(() => {
  const m = document.getElementById('mapping');
  return m ? { text: m.textContent, warning: m.className === 'warning' } : null;
});

// The walk-through's family on its own structure, as PDB and as mmCIF with author numbers.
for (const [name, file] of [['hiv_pdb', `${structures}/tut/1hpv.pdb`], ['hiv_cif', `${testData}/1hpv_auth.cif.gz`]]) {
  const r = run(name, [hiv, matrix, '-S=100', '-R=1', `-P=${file}`]);
  const page = await open(name, r, true);
  const m = await mapping(page);
  check(m && !m.warning && m.text.includes('190 carry the same amino acid (100 %)'), `${name}: mapping ${m && m.text}`);
  // Sorting and the q filter.
  const qcol = await page.evaluate(() => [...document.querySelectorAll('#table th')].findIndex((th) => th.textContent === 'q'));
  await page.click(`#table th:nth-child(${qcol + 1})`);  // q, as numbers: empty fields last
  await page.check('#filter-q');
  const shown = await page.evaluate((k) => [...document.querySelectorAll('#table tbody tr')].filter((tr) => !tr.hidden)
    .map((tr) => parseFloat(tr.cells[k].textContent)), qcol);
  const rows = await page.evaluate(() => window.vornPage.rows.filter((x) => parseFloat(x.q) <= 0.05).length);
  check(shown.length === rows && shown.length > 0 && shown.every((q, i) => q <= 0.05 && (i === 0 || shown[i - 1] >= q)),
    `${name}: the q filter shows the ${rows} rows with q <= 0.05, sorted (${shown.slice(0, 5)})`);
  await page.uncheck('#filter-q');
  const q = await page.evaluate((k) => [...document.querySelectorAll('#table tbody tr')].map((tr) => tr.cells[k].textContent), qcol);
  check(q.includes('') && q.indexOf('') === q.length - q.filter((t) => t === '').length,
    `${name}: sorted by q, highest first, the empty fields come last`);
  await viewer(name, page);
  await page.close();
}

// The structure changes the page only: the PyMOL and ChimeraX files are those of a run without it
// (but for the command line in their comments).
{
  run('hiv_plain', [hiv, matrix, '-S=100', '-R=1']);
  const body = (f) => fs.readFileSync(f, 'utf8').split('\n').filter((l) => !l.startsWith('#')).join('\n');
  for (const ext of ['pml', 'defattr', 'tsv'])
    check(body(`${work}/hiv_plain.${ext}`) === body(`${work}/hiv_pdb.${ext}`),
      `the .${ext} does not depend on -P`);
}

// A '>' family numbered by a /start-end suffix: its blank chain compared with the best chain. The
// structure's text carries a "</script>", which must not end the page's data early, and its
// inhibitor is renumbered 25, the number of a scored residue whose colour it must not take.
{
  const hostile = `${work}/1hpv_script.pdb`;
  fs.writeFileSync(hostile, 'REMARK  99 </script><script>document.title="broken"</script>\n' +
    fs.readFileSync(`${structures}/tut/1hpv.pdb`, 'utf8').replace(/^(HETATM.{11}478 .) 200/gm, '$1  25'));
  const r = run('start_end', [`${testData}/1hpv_A.fa`, matrix, `-P=${hostile}`]);
  const page = await open('start_end', r, false);
  const m = await mapping(page);
  check(m && !m.warning && /\(chain A\) and 95 carry/.test(m.text), `start_end: mapping ${m && m.text}`);
  check((await page.title()) === 'vorn: 1hpv_A.fa', 'start_end: the structure\'s text stays data');
  const ligand = await page.evaluate(() => window.vornPage.viewer().selectedAtoms({ resn: '478' })
    .map((a) => a.style.stick.colorfunc(a)));
  check(ligand.length > 0 && ligand.every((c) => c === '#666666'), `start_end: the inhibitor numbered 25 stays grey (${ligand[0]})`);
  // The alignment view of the selected column: every protein once, its letters those the table counts.
  const panel = await page.evaluate(() => {
    const p = window.vornPage, i = p.best()[0];
    p.select(i, 'test');
    const cells = [...document.querySelectorAll('#panel tbody td.here')].map((td) => td.textContent);
    const names = [...document.querySelectorAll('#panel tbody tr')].map((tr) => tr.cells[0].textContent);
    const counts = {};
    cells.forEach((c) => { counts[c] = (counts[c] || 0) + 1; });
    const shown = Object.entries(counts).sort((a, b) => b[1] - a[1] || a[0].localeCompare(b[0]));
    const want = p.rows[i].residues.split(' ').map((t) => t.split(':')).map(([c, n]) => [c, Number(n)])
      .sort((a, b) => b[1] - a[1] || a[0].localeCompare(b[0]));
    return { same: JSON.stringify(shown) === JSON.stringify(want), rows: names.length, distinct: new Set(names).size,
      first: names[0] };
  });
  check(panel.same && panel.rows === panel.distinct && panel.rows > 20 && panel.first === '1hpv_A/1-99',
    `start_end: the alignment view shows the selected column's residues (${JSON.stringify(panel)})`);
  await viewer('start_end', page);
  await page.close();
}

// What the check must warn about, on the page and on standard error: a suffix
// that numbers one residue as another, the wrong structure, a missing chain.
const shifted = `${work}/shifted.fa`;
fs.writeFileSync(shifted, fs.readFileSync(`${testData}/1hpv_A.fa`, 'utf8').replace('/1-99', '/11-109'));
for (const [name, args, says] of [
  ['shifted', [shifted, matrix, `-P=${structures}/tut/1hpv.pdb`], 'Numbered from 1 instead (a /1-end suffix'],
  ['wrong_structure', [hiv, matrix, `-P=${structures}/demo/1tii.pdb`], 'First mismatches: A:Q2 (column 2)'],
  ['no_chain', [`${shared}/hssp/il2_n150.hssp`, matrix, `-P=${structures}/demo/il2.pdb`], 'the structure has no chain A'],
]) {
  const r = run(name, args);
  check(r.err.includes('** Warning') && r.err.includes(says), `${name}: stderr says '${says}'`);
  const page = await open(name, r, false);
  const m = await mapping(page);
  check(m && m.warning && m.text.includes(says), `${name}: the page says '${says}' (${m && m.text})`);
  if (name === 'no_chain') await viewer(name, page);
  // Not the family's: a banner above the view, all grey, no labelled sticks.
  const wrong = await page.evaluate(() => ({
    banner: !!document.querySelector('#wrong-structure') &&
      !!(document.querySelector('#wrong-structure').compareDocumentPosition(document.querySelector('#viewer')) & 4),
    grey: window.vornPage.rows.every((r, i) => window.vornPage.colourOf(i) === '#666666'),
    labels: window.vornPage.best().length }));
  const isWrong = name !== 'no_chain';  // a shifted numbering addresses the wrong residues too
  check(wrong.banner === isWrong && wrong.grey === isWrong && (wrong.labels === 0) === isWrong,
    `${name}: the banner, grey and unlabelled exactly for the wrong structure (${JSON.stringify(wrong)})`);
  if (isWrong) for (const ext of ['pml', 'defattr'])
    check(/^# Not coloured: only \d+ of the \d+/m.test(fs.readFileSync(`${work}/${name}.${ext}`, 'utf8')) &&
      !/^(color|spectrum|alter|attribute)/m.test(fs.readFileSync(`${work}/${name}.${ext}`, 'utf8')), `${name}: the .${ext} colours nothing`);
  await page.close();
}

// Without the viewer's script: the page says why, and so does stderr.
{
  const r = run('no_viewer', [hiv, matrix, `-P=${structures}/tut/1hpv.pdb`], { VORN_SHARE: `${work}/nothing` });
  check(r.err.includes('has no 3D view: the viewer\'s script 3Dmol-min.js is not installed'), 'no_viewer: stderr');
  const page = await open('no_viewer', r, false);
  const why = await page.evaluate(() => [document.querySelector('#no-viewer')?.textContent, !!document.querySelector('#viewer')]);
  check(why[0] && why[0].includes('not installed') && !why[1], `no_viewer: the page says why (${why})`);
  await page.close();
}

// The profile as the browser lays it out: no two labels overlap, no text leaves the picture; also for a
// family of 3,108 columns (each row of a 259-column family repeated twelve times), whose page stays under 5 MB.
const long = fs.readFileSync(`${shared}/large/Pkinase_emit_N100.fa`, 'utf8').split('>').slice(1)
  .map((r) => { const [name, ...seq] = r.split('\n'); return `>${name}\n${seq.join('').repeat(12)}\n`; }).join('');
fs.writeFileSync(`${work}/long.fa`, long);
for (const [name, args] of [['layout', [hiv, matrix, '-S=1000', '-R=42']], ['layout_long', [`${work}/long.fa`, matrix, '-S=20', '-R=3']]]) {
  const r = run(name, args);
  if (name === 'layout_long') {
    check(fs.statSync(r.html).size < 5e6, `${name}: the page of 3,108 columns is ${fs.statSync(r.html).size} bytes`);
    await (await open(name, r, true)).close();
  }
  const page = await browser.newPage();
  await page.goto(`file://${work}/${name}.svg`);
  const found = await page.evaluate(() => {
    const svg = document.documentElement, w = +svg.getAttribute('width'), h = +svg.getAttribute('height');
    const boxes = [...svg.querySelectorAll('text')].map((t) => [t.getAttribute('class'), t.textContent, t.getBoundingClientRect()]);
    const problems = boxes.filter(([, , b]) => b.x < 0 || b.y < 0 || b.right > w || b.bottom > h).map(([, t]) => 'clipped: ' + t);
    const labels = boxes.filter(([cls]) => cls === 'label');
    labels.forEach(([, ta, a], i) => labels.slice(i + 1).forEach(([, tb, b]) => {
      if (a.x < b.right && b.x < a.right && a.y < b.bottom && b.y < a.bottom) problems.push(`overlap: ${ta} / ${tb}`);
    }));
    return { labels: labels.length, problems };
  });
  check(found.labels === 10 && found.problems.length === 0, `${name}: the profile's layout (${found.labels} labels; ${found.problems})`);
  await page.close();
}

await browser.close();
console.log(failures ? `${failures} failed` : 'all pages passed');
process.exit(failures ? 1 : 0);
