"""tilvex-plot --report in a real browser: headless Chromium, driven by
Selenium, opens the page from the file system (file://, no server) and
checks what a reader sees, against the grid's table:

- the counts: points, ok, failed and with warnings, as the table has them;
- a click on a point of the map shows that point: its indices, its SHmax
  cell as the table writes it, and its stereonet (the file beside the page,
  loaded); a failed point shows its status and no stereonet; a click on a
  row of the table shows its point too;
- a click on a column's header sorts the rows by it (numbers as numbers,
  nan last), a second click the other way;
- failed rows and rows with notes are marked;
- the browser logged no error (a script that threw, a file not found).

With a PNG path it also saves the page, a point chosen, as the README's
picture.

    report_test.py TILVEX_PLOT TILVEX_GRID TILVEX_GENERATE DATA_DIR [PNG]

Exit 77 (skipped) where Chromium, its driver or Selenium is missing,
outside CI; in CI (CI=true) that is a failure.
"""

import csv
import os
import shutil
import subprocess
import sys
import tempfile


def skip(reason):
    if os.environ.get("CI") == "true":
        sys.exit(f"report browser test cannot run in CI: {reason}")
    print(f"report browser test skipped: {reason}", file=sys.stderr)
    sys.exit(77)


def check(condition, what):
    if not condition:
        sys.exit(f"report browser test: {what}")


def main():
    plot, grid, generate, data = sys.argv[1:5]
    png = sys.argv[5] if len(sys.argv) > 5 else None
    try:
        from selenium import webdriver
        from selenium.webdriver.common.by import By
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        skip("python3-selenium is missing")
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver_path = shutil.which("chromedriver")
    if not chromium or not driver_path:
        skip("chromium or chromium-driver is missing")

    work = tempfile.mkdtemp(prefix="tilvex-report-")
    try:
        # A grid of 4 x 3 points: one input missing (failed), one with blank
        # lines (a note), the rest generated.
        lines = []
        for x in range(4):
            for y in range(3):
                path = os.path.join(work, f"p{x}{y}.vrin")
                if (x, y) == (3, 2):
                    path = os.path.join(work, "missing.vrin")
                elif (x, y) == (2, 1):
                    shutil.copy(os.path.join(data, "blank-lines.vrin"), path)
                else:
                    with open(path, "w") as f:
                        subprocess.run([generate, "400", str(50 + 3 * x + y)], stdout=f, check=True)
                lines.append(f"{path} {x} {y - 1} 0 0\n")
        with open(os.path.join(work, "grid.txt"), "w") as f:
            f.writelines(lines)
        table = os.path.join(work, "grid.tsv")
        accepted = os.path.join(work, "accepted.txt")
        subprocess.run([grid, os.path.join(work, "grid.txt"), os.path.join(work, "summary.txt"), "95", accepted,
                        "--table", table, "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = os.path.join(work, "report")
        run = subprocess.run([plot, "--report", out, "--table", table, accepted], capture_output=True, text=True)
        check(run.returncode == 0, f"--report: status {run.returncode}: {run.stderr}")
        with open(table) as f:
            rows = [r for r in csv.DictReader(f, delimiter="\t")]
        check(len(rows) == 12, f"the table holds {len(rows)} rows, not 12")
        failed = [r for r in rows if r["status"] != "ok"]
        warned = [r for r in rows if r["notes"]]
        check(len(failed) == 1 and len(warned) >= 1, f"{len(failed)} failed and {len(warned)} warned rows")

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1000",
                  "--disable-dev-shm-usage", "--no-first-run"):
            options.add_argument(a)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        browser = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
        try:
            browser.get("file://" + os.path.join(out, "index.html"))
            counts = browser.find_element(By.ID, "counts").text
            for part in (f"points: {len(rows)}", f"ok: {len(rows) - len(failed)}", f"failed: {len(failed)}",
                         f"with warnings: {len(warned)}"):
                check(part in counts, f"the counts say '{counts}', not '{part}'")

            def grid_of(r):
                return " ".join(r[k] for k in ("xgrid", "ygrid", "zgrid", "tgrid"))

            def detail_rows():
                return {tr.find_elements(By.TAG_NAME, "td")[0].text: tr.find_elements(By.TAG_NAME, "td")[1].text
                        for tr in browser.find_elements(By.CSS_SELECTOR, "#values tr")}

            # Each point of the map, clicked: its indices, SHmax, stereonet.
            for r in rows:
                g = grid_of(r)
                point = browser.find_element(By.CSS_SELECTOR, f'#map g.point[data-grid="{g}"]')
                browser.execute_script("arguments[0].scrollIntoView()", point)
                point.click()
                heading = browser.find_element(By.CSS_SELECTOR, "#detail h2").text
                check(heading == f"grid point {g}", f"a click on {g} shows '{heading}'")
                shown = detail_rows()
                check(shown.get("status") == r["status"], f"{g}: status '{shown.get('status')}'")
                images = browser.find_elements(By.CSS_SELECTOR, "#detail img")
                if r["status"] == "ok":
                    want = f"{r['shmax']} [{r['shmax_low']}, {r['shmax_high']}]"
                    check(shown.get("SHmax") == want, f"{g}: SHmax '{shown.get('SHmax')}', the table {want}")
                    check(len(images) == 1, f"{g}: {len(images)} stereonets")
                    name = f"point_{g.replace(' ', '_')}.svg"
                    check(images[0].get_attribute("src").endswith("/" + name), f"{g}: {images[0].get_attribute('src')}")
                    width = browser.execute_script(
                        "const i = arguments[0]; return i.decode().then(() => i.naturalWidth, () => 0)", images[0])
                    check(width and width > 0, f"{g}: its stereonet {name} did not load")
                else:
                    check(len(images) == 0 and "no stereonet" in browser.find_element(By.ID, "detail").text,
                          f"{g}: a failed point shows a stereonet")

            # A row of the table, clicked, shows its point.
            browser.find_element(By.CSS_SELECTOR, "#rows tbody tr:nth-child(5)").click()
            check(browser.find_element(By.CSS_SELECTOR, "#detail h2").text == f"grid point {grid_of(rows[4])}",
                  "a click on the fifth row")

            # Marks.
            marked = {tr.get_attribute("data-row"): tr.get_attribute("class") or ""
                      for tr in browser.find_elements(By.CSS_SELECTOR, "#rows tbody tr")}
            for i, r in enumerate(rows):
                cls = marked[str(i)].split()
                check(("failed" in cls) == (r["status"] != "ok"), f"row {i}: classes {cls}")
                check(("warned" in cls) == bool(r["notes"]), f"row {i}: classes {cls}")

            # Sorting by SHmax, up then down: numbers as numbers, nan last.
            def shown_column(name):
                k = list(rows[0].keys()).index(name)
                return [tr.find_elements(By.TAG_NAME, "td")[k].text
                        for tr in browser.find_elements(By.CSS_SELECTOR, "#rows tbody tr")]

            def number(s):
                try:
                    v = float(s)
                    return None if v != v else v
                except ValueError:
                    return None

            values = [r["shmax"] for r in rows]
            numbers = sorted((v for v in values if number(v) is not None), key=number)
            rest = [v for v in values if number(v) is None]
            header = browser.find_element(By.XPATH, "//table[@id='rows']//th[text()='shmax']")
            header.click()
            check(shown_column("shmax") == numbers + rest, f"sorted up: {shown_column('shmax')}")
            header.click()
            check(shown_column("shmax") == numbers[::-1] + rest, f"sorted down: {shown_column('shmax')}")

            errors = [e for e in browser.get_log("browser") if e.get("level") == "SEVERE"]
            check(not errors, f"the browser logged errors: {errors}")

            if png:
                ok_point = next(r for r in rows if r["status"] == "ok" and r["notes"] == "")
                browser.set_window_size(1400, 900)
                browser.find_element(By.CSS_SELECTOR, f'#map g.point[data-grid="{grid_of(ok_point)}"]').click()
                browser.execute_script("window.scrollTo(0, 0)")
                browser.save_screenshot(png)
                try:  # a palette of 64 colours keeps the README's picture small
                    from PIL import Image
                    Image.open(png).convert("RGB").quantize(64).save(png, optimize=True)
                except ImportError:
                    pass
        finally:
            browser.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
